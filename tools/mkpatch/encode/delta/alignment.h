// Approximate alignment, the encoder's second stage: cuts the new file into regions that
// line up with a stretch of the old file where most bytes agree (an edited code section,
// a table with some changed entries), each followed by bytes found nowhere in the old file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mkpatch/encode/delta/match_finder.h"

namespace vard::mkpatch {

// new[new_pos .. new_pos + aligned) lines up with old[old_pos ..]; the `extra` bytes after
// it are new. Regions tile the new file in order.
struct AlignedRegion {
  size_t new_pos = 0;
  size_t old_pos = 0;
  size_t aligned = 0;
  size_t extra = 0;
};

struct AlignmentParams {
  // A fresh exact match must beat the current alignment by more than this many bytes
  // before the encoder moves to it: a short far-away match costs two seeks.
  size_t switch_margin = 4;
};

std::vector<AlignedRegion> AlignFiles(const uint8_t* old, size_t old_size, const uint8_t* neu,
                                      size_t new_size, const MatchFinder& finder,
                                      const AlignmentParams& params);

}  // namespace vard::mkpatch
