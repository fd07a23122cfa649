// Builds the patch plan from a project: compares each pack's trees, encodes a diff for every
// updated file, writes each payload to the resources folder as it is made and sums each
// section's required space. The stages it calls are in tree_compare, delta/encoder,
// payload_writer and required_space; writing the manifests and the self-check come after.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/patch_plan.h"
#include "mkpatch/project_file.h"

namespace vard::mkpatch {

struct BuildStats {
  size_t added = 0, updated = 0, deleted = 0, unchanged = 0;
  size_t diffs = 0;           // updated files carried as diffs
  uint64_t bytes_in = 0;      // bytes of the files read from the new trees
  uint64_t payload_bytes = 0; // bytes of all payload resources
  std::vector<std::string> warnings;
};

// Payload files go to `resources`, which must exist. Throws InputError for input the patch
// cannot carry (unreadable files, more payloads than resource ids).
PatchPlan PlanPatch(const Project& project, const std::filesystem::path& resources, BuildStats& stats);

}  // namespace vard::mkpatch
