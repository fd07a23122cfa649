// Payloads as the patcher reads them: a zlib stream made at libdeflate's strongest level,
// or the bytes themselves when compression would not make them smaller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard::mkpatch {

struct Payload {
  std::vector<uint8_t> data;  // the resource's bytes; never empty
  bool comp = false;          // data is a zlib stream
};

// zlib format (header 0x78 0xDA, Adler-32 trailer), libdeflate level 12.
std::vector<uint8_t> CompressZlib(const uint8_t* data, size_t size);
inline std::vector<uint8_t> CompressZlib(const std::vector<uint8_t>& bytes) {
  return CompressZlib(bytes.data(), bytes.size());
}
size_t CompressedSize(const std::vector<uint8_t>& bytes);

// CompressZlib's stream when it has at most `limit` bytes (the same bytes), else empty:
// the output buffer never grows beyond the limit.
std::vector<uint8_t> CompressZlibWithin(const uint8_t* data, size_t size, size_t limit);

// Compressed unless the stream is not smaller. Empty content is always compressed: a
// resource of length zero cannot be loaded by the patcher.
Payload MakePayload(const std::vector<uint8_t>& content);

}  // namespace vard::mkpatch
