// Zero-run coding of a stream diff's difference stream, before compression: the
// differences of aligned regions are mostly zeros, and one 0x00 plus a short length in
// place of each run leaves the compressor far fewer bytes to model and the decoder far
// fewer to unpack (engine/diff/stream_diff.h, flag kZeroRuns, gives the layout).
#pragma once

#include <cstdint>
#include <vector>

namespace vard::mkpatch {

// Codes a stream handed over in pieces; a run may span pieces.
class ZeroRunCoder {
 public:
  // Appends the coding of piece to out (a run still open at its end waits for the next).
  void Code(const std::vector<uint8_t>& piece, std::vector<uint8_t>& out);
  // Appends the run still open, if any.
  void Finish(std::vector<uint8_t>& out);

 private:
  uint64_t zeros_ = 0;
};

}  // namespace vard::mkpatch
