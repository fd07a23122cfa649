#include "mkpatch/encode/delta/zero_runs.h"

namespace vard::mkpatch {

void ZeroRunCoder::Code(const std::vector<uint8_t>& piece, std::vector<uint8_t>& out) {
  for (const uint8_t b : piece) {
    if (b == 0) {
      ++zeros_;
      continue;
    }
    Finish(out);
    out.push_back(b);
  }
}

void ZeroRunCoder::Finish(std::vector<uint8_t>& out) {
  if (zeros_ == 0) return;
  out.push_back(0);
  uint64_t length = zeros_ - 1;
  while (length >= 0x80) {
    out.push_back(static_cast<uint8_t>(length | 0x80));
    length >>= 7;
  }
  out.push_back(static_cast<uint8_t>(length));
  zeros_ = 0;
}

}  // namespace vard::mkpatch
