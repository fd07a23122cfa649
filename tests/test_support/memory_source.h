// An inflation source over bytes held in memory, for the tests and fuzz targets of the
// decoders: hands out at most `piece` bytes per read (0: as many as the reader asks for)
// and, at the end, reports 0 or, with end_fails, a read failure.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/inflate_loop.h"

namespace vard::test {

class MemorySource final : public InflateSource {
 public:
  explicit MemorySource(const std::vector<unsigned char>& bytes, std::size_t piece = 0,
                        bool end_fails = false)
      : bytes_(bytes), piece_(piece), end_fails_(end_fails) {}

  std::int64_t Read(unsigned char* buffer, std::size_t capacity) override {
    if (at_ == bytes_.size() && end_fails_) return -1;
    std::size_t n = std::min(capacity, bytes_.size() - at_);
    if (piece_ != 0) n = std::min(n, piece_);
    std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
              bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n), buffer);
    at_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  const std::vector<unsigned char>& bytes_;
  std::size_t piece_;
  bool end_fails_;
  std::size_t at_ = 0;
};

}  // namespace vard::test
