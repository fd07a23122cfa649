// The difference stream of a stream diff (and of an archive diff's entries) as the add
// runs take it: plain, or with its zero runs coded (flag kZeroRuns, stream_diff.h). A run
// may span add runs, and in an archive diff entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/diff/stream_diff.h"
#include "engine/xz_stream.h"

namespace vard::diff {

class DifferenceReader {
 public:
  DifferenceReader(XzReader& stream, bool zero_runs) : stream_(stream), zero_runs_(zero_runs) {}

  // The next piece of at most max differences: either zeros (data null) or bytes in the
  // decoder's window. 0 when the stream ends or is malformed.
  std::size_t Next(const unsigned char*& data, std::uint64_t max) {
    if (zeros_ == 0) {
      std::size_t n = stream_.Peek(data);
      if (n == 0) return 0;
      if (!zero_runs_) return static_cast<std::size_t>(n < max ? n : max);
      if (data[0] != 0) {
        if (n > max) n = static_cast<std::size_t>(max);
        const void* zero = std::memchr(data, 0, n);
        return zero == nullptr ? n : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - data);
      }
      stream_.Take(1);
      if (!ReadRunLength()) return 0;
    }
    data = nullptr;
    return static_cast<std::size_t>(zeros_ < max ? zeros_ : max);
  }
  // Consumes count of what Next returned.
  void Take(const unsigned char* data, std::size_t count) {
    if (data == nullptr) zeros_ -= count;
    else stream_.Take(count);
  }
  // True when no run is left half used.
  bool Settled() const { return zeros_ == 0; }

 private:
  bool ReadRunLength() {
    std::uint64_t value = 0;
    for (int i = 0; i < kZeroRunLengthBytes; ++i) {
      unsigned char b = 0;
      if (!stream_.ReadExactly(&b, 1)) return false;
      value |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
      if ((b & 0x80) == 0) {
        zeros_ = value + 1;
        return true;
      }
    }
    return false;  // longer than any run can be
  }

  XzReader& stream_;
  const bool zero_runs_;
  std::uint64_t zeros_ = 0;  // zeros of the current run not yet used
};

}  // namespace vard::diff
