// The disk space a language section asks for: enough that the run, which stages every file
// beside its target, cannot run out of space midway. The formula is in docs/manifests.md.
#pragma once

#include <cstdint>

#include "mkpatch/compare/patch_plan.h"

namespace vard::mkpatch {

inline constexpr uint64_t kClusterSize = 4096;       // NTFS default allocation unit
inline constexpr uint64_t kMetadataMargin = 1 << 20;  // folders and file records, per section

uint64_t RequiredSpace(const PlannedSection& section);

// Bytes a file of this size takes on the disk: whole clusters.
inline uint64_t OnDisk(uint64_t size) { return (size + kClusterSize - 1) / kClusterSize * kClusterSize; }

}  // namespace vard::mkpatch
