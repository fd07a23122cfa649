#include "mkpatch/payload_writer.h"

#include <libdeflate.h>
#include <lzma.h>

#include <memory>
#include <stdexcept>

#include "engine/xz_stream.h"

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

namespace {

std::vector<uint8_t> RunXz(const std::vector<uint8_t>& bytes, const lzma_filter* filters) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_encoder(&stream, filters, LZMA_CHECK_CRC32) != LZMA_OK)
    throw std::runtime_error("cannot start the xz encoder");
  std::vector<uint8_t> out(lzma_stream_buffer_bound(bytes.size()));
  stream.next_in = bytes.data();
  stream.avail_in = bytes.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
  const size_t size = out.size() - stream.avail_out;
  lzma_end(&stream);
  if (result != LZMA_STREAM_END) throw std::runtime_error("xz compression failed");
  out.resize(size);
  return out;
}

}  // namespace

std::vector<uint8_t> CompressXz(const std::vector<uint8_t>& bytes, XzKind kind) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME))
    throw std::runtime_error("xz preset missing");
  // The decoder's memory follows the dictionary: no larger than the data or the cap.
  uint32_t dictionary = LZMA_DICT_SIZE_MIN;
  while (dictionary < bytes.size() && dictionary < kXzDictionaryCap) dictionary *= 2;
  options.dict_size = dictionary < kXzDictionaryCap ? dictionary : kXzDictionaryCap;
  if (kind == XzKind::Bytes) {
    // Measured on the difference streams of real executables: one bit of literal
    // context and no position bits compress best.
    options.lc = 1;
    options.lp = 0;
    options.pb = 0;
  }
  const lzma_filter plain[] = {{LZMA_FILTER_LZMA2, &options},
                               {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> best = RunXz(bytes, plain);
  if (kind == XzKind::Whole) {
    const lzma_filter x86[] = {{LZMA_FILTER_X86, nullptr},
                               {LZMA_FILTER_LZMA2, &options},
                               {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> filtered = RunXz(bytes, x86);
    if (filtered.size() < best.size()) best = std::move(filtered);
  }
  return best;
}

Payload MakePayload(const std::vector<uint8_t>& content, bool allow_xz) {
  Payload payload;
  payload.data = CompressZlib(content);
  payload.comp = true;
  payload.codec = 1;
  if (allow_xz) {
    std::vector<uint8_t> xz = CompressXz(content, XzKind::Whole);
    if (xz.size() < payload.data.size()) {
      payload.data = std::move(xz);
      payload.codec = 2;
    }
  }
  if (!content.empty() && payload.data.size() >= content.size()) {
    payload.data = content;
    payload.comp = false;
    payload.codec = 0;
  }
  return payload;
}

}  // namespace vard::mkpatch
