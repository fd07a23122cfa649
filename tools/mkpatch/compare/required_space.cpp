#include "mkpatch/compare/required_space.h"

#include <algorithm>

namespace vard::mkpatch {
namespace {

// Bytes the entry holds on disk beyond the state before it, at its fullest moment.
uint64_t Staging(const PlannedFile& file, bool updated) {
  const uint64_t copy = file.comp ? OnDisk(file.comp_size) : 0;  // tmp_uncomp.dat
  if (updated && file.diff)
    // tmp_uncomp.dat + new.dat, then new.dat + undiff.dat, all beside the old file.
    return std::max(copy + OnDisk(file.diff_size), OnDisk(file.diff_size) + OnDisk(file.size));
  return copy + OnDisk(file.size);  // tmp_uncomp.dat + new.dat
}

}  // namespace

// Growth is summed over entries that grow the installation (deleted files are not counted
// as freeing space: an earlier section's deletions may not run before this one's additions
// if the run stops and is restarted), and the largest staging peak is added once. A run
// takes several sections; the sum of their values bounds the sum of all growth plus the
// largest peak of any of them.
uint64_t RequiredSpace(const PlannedSection& section) {
  uint64_t growth = 0, peak = 0;
  for (const PlannedPack& pack : section.packs) {
    for (const PlannedFile& file : pack.added) {
      growth += OnDisk(file.size);
      peak = std::max(peak, Staging(file, false));
    }
    for (const PlannedFile& file : pack.updated) {
      if (OnDisk(file.size) > OnDisk(file.size_org)) growth += OnDisk(file.size) - OnDisk(file.size_org);
      peak = std::max(peak, Staging(file, true));
    }
  }
  return growth + peak + kMetadataMargin;
}

}  // namespace vard::mkpatch
