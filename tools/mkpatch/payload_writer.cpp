#include "mkpatch/payload_writer.h"

#include <libdeflate.h>

#include <memory>
#include <stdexcept>

namespace vard::mkpatch {

std::vector<uint8_t> CompressZlib(const uint8_t* data, size_t size) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!compressor) throw std::runtime_error("out of memory for the compressor");
  std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), size));
  const size_t n = libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size());
  if (n == 0) throw std::runtime_error("compression failed");
  out.resize(n);
  out.shrink_to_fit();  // the bound is about the input's size; keep only the stream
  return out;
}

std::vector<uint8_t> CompressZlibWithin(const uint8_t* data, size_t size, size_t limit) {
  std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(12), &libdeflate_free_compressor);
  if (!compressor) throw std::runtime_error("out of memory for the compressor");
  std::vector<uint8_t> out(limit);
  const size_t n = libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size());
  out.resize(n);  // 0: it did not fit
  out.shrink_to_fit();
  return out;
}

size_t CompressedSize(const std::vector<uint8_t>& bytes) { return CompressZlib(bytes).size(); }

Payload MakePayload(const std::vector<uint8_t>& content) {
  Payload payload;
  payload.data = CompressZlib(content);
  payload.comp = true;
  if (!content.empty() && payload.data.size() >= content.size()) {
    payload.data = content;
    payload.comp = false;
  }
  return payload;
}

}  // namespace vard::mkpatch
