// The encoder's third stage: turns aligned regions into diff commands. Inside a region,
// long runs of equal bytes become copies and everything else is sent in replace mode, which
// keeps the old and new positions in step; the new bytes between regions are sent in
// insert or replace mode, whichever makes the following seek cheaper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mkpatch/encode/delta/alignment.h"

namespace vard::mkpatch {

struct CommandParams {
  // Equal runs inside a region shorter than this are sent as replaced data. A copy and the
  // mode switch back cost five bytes, but they repeat and compress well, so short runs are
  // often worth copying; the encoder tries more than one value.
  size_t min_copy = 1;
};

std::vector<uint8_t> WriteCommands(const uint8_t* old, size_t old_size, const uint8_t* neu,
                                   size_t new_size, const std::vector<AlignedRegion>& regions,
                                   const CommandParams& params);

}  // namespace vard::mkpatch
