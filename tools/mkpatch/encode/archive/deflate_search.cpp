#include "mkpatch/encode/archive/deflate_search.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vard::mkpatch {
namespace {

// Content is fed in small pieces so that a try stops soon after its first differing
// byte: deflate holds its output back until a block is full, and then hands it out at
// the end of the piece being fed.
constexpr size_t kChunk = size_t{16} << 10;
constexpr uint8_t kLevels[] = {6, 9, 1, 2, 3, 4, 5, 7, 8, 0};
constexpr uint8_t kMemLevels[] = {8, 9, 7, 6, 5, 4, 3, 2, 1};

}  // namespace

DeflateSearch::DeflateSearch(uint64_t archive_size)
    : budget_(kSearchBase + kSearchPerByte * archive_size) {}

bool DeflateSearch::Try(const DeflateSettings& s, const uint8_t* content, size_t size,
                        const uint8_t* packed, size_t packed_size) {
  z_stream z{};
  if (deflateInit2(&z, s.level, Z_DEFLATED, -static_cast<int>(s.window_bits), s.mem_level,
                   s.strategy) != Z_OK) {
    return false;
  }
  std::vector<uint8_t> out(kChunk);
  size_t fed = 0, compared = 0;
  bool same = true;
  for (int rc = Z_OK; same && rc != Z_STREAM_END;) {
    const size_t n = std::min(kChunk, size - fed);
    z.next_in = const_cast<uint8_t*>(content + fed);
    z.avail_in = static_cast<uInt>(n);
    const int flush = fed + n == size ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = deflate(&z, flush);
      const size_t made = out.size() - z.avail_out;
      if (made > packed_size - compared || std::memcmp(out.data(), packed + compared, made) != 0) {
        same = false;
        break;
      }
      compared += made;
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc == Z_OK));
    const size_t used = n - z.avail_in;
    fed += used;
    budget_ -= std::min<uint64_t>(budget_, used);
    if (rc == Z_STREAM_ERROR) same = false;
  }
  deflateEnd(&z);
  return same && compared == packed_size;
}

std::optional<DeflateSettings> DeflateSearch::Find(const uint8_t* content, size_t size,
                                                   const uint8_t* packed, size_t packed_size) {
  std::vector<DeflateSettings> tried;
  auto attempt = [&](const DeflateSettings& s) {
    if (std::find(tried.begin(), tried.end(), s) != tried.end()) return false;
    tried.push_back(s);
    if (!Try(s, content, size, packed, packed_size)) return false;
    last_ = s;
    return true;
  };
  if (last_ && attempt(*last_)) return last_;
  for (uint8_t level : {6, 9, 1}) {
    if (attempt(DeflateSettings{level, 8, 15, 0})) return last_;
  }
  if (whole_search_failures_ >= kWholeSearchFailures) {
    cut_short_ = true;
    return std::nullopt;
  }
  for (uint8_t window = 15; window >= 9; --window) {
    // A window larger than the content (less zlib's look-ahead) changes nothing.
    if (window < 15 && size + 262 <= (size_t{1} << window)) continue;
    for (uint8_t mem_level : kMemLevels) {
      for (uint8_t level : kLevels) {
        if (budget_ == 0) {
          cut_short_ = true;
          return std::nullopt;
        }
        if (attempt(DeflateSettings{level, mem_level, window, 0})) return last_;
      }
    }
  }
  ++whole_search_failures_;
  return std::nullopt;
}

bool ZlibMatchesBuild() { return std::strcmp(zlibVersion(), ZLIB_VERSION) == 0; }

}  // namespace vard::mkpatch
