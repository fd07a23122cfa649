// Builds the patch plan from a project: compares each pack's trees, encodes the payload of
// every added and updated file on all cores (entry_encoder), writes each payload to the
// resources folder as it is made and sums each section's required space. Writing the
// manifests and the self-check come after.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/compare/patch_plan.h"
#include "mkpatch/project/project_file.h"

namespace vard::mkpatch {

struct BuildStats {
  size_t added = 0, updated = 0, deleted = 0, unchanged = 0;
  size_t diffs = 0;           // updated files carried as diffs
  uint64_t bytes_in = 0;      // bytes of the files read from the new trees
  uint64_t payload_bytes = 0; // bytes of all payload resources
  size_t shared = 0;          // entries of a later starting version naming an earlier payload
  uint64_t shared_bytes = 0;  // the payload bytes those entries did not store again
  std::vector<std::string> warnings;
};

class PayloadCache;

struct BuildOptions {
  unsigned jobs = 0;  // encoding threads; 0: one per core
  // Payloads beyond this many bytes stop the build early (the whole patch is measured
  // against its limit once the manifests are written).
  uint64_t max_payload_bytes = UINT64_MAX;
  // Most patch data embedded in the patcher's image as resources; payloads beyond it go
  // to the overlay (output/overlay.h). Used after planning, when the manifests are written.
  uint64_t max_image_bytes = UINT64_MAX;
  uint64_t split_size = kSplitSize;  // updated files from this size on use two threads
  PayloadCache* cache = nullptr;     // payloads of earlier builds; none when null
  EncodeOptions encode;              // diff form and codecs
  // Called when the payloads stop the build early, with the plan as far as it got (files
  // whose payload was not made keep an empty crc) and the error about to be thrown.
  std::function<void(const PatchPlan&, const std::string&)> on_limit;
};

// One set of packs per starting version of the project (see PatchPlan::other_starts).
// Payload files go to `resources`, which must exist. Throws InputError for input the patch
// cannot carry (unreadable files, a folder that becomes a file, more payloads than resource
// ids, payloads beyond the limit). The payloads do not depend on the number of threads.
PatchPlan PlanPatch(const Project& project, const std::filesystem::path& resources, BuildStats& stats,
                    const BuildOptions& options = {});

}  // namespace vard::mkpatch
