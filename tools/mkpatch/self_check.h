// The builder's last stage before output: the whole patch, as written to the resources
// folder, is replayed for every installation language on a model of that language's old
// installation, in the patcher's order (sections, packs, then added, updated and deleted
// files), with the patcher's own code wherever it has some: manifest parsing and pack
// selection, path joining and name conversion, the zlib inflate loop and the diff decoder.
// The model finds names as Windows does (name_case.h) and follows the patcher's pre-flight
// and application rules for existing, missing, folder and file targets. The tree it ends
// with must equal the new tree byte for byte; a patch that fails is never written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/patch_plan.h"

namespace vard::mkpatch {

struct CheckResult {
  // One line each ("french: local\french\menu.xml: rebuilt file differs from the new
  // file"); empty when every language ends in its new tree.
  std::vector<std::string> problems;
  size_t entries = 0;  // entries replayed, over all languages
  size_t decoded = 0;  // payloads decoded (a payload met again with the same input is not)
};

CheckResult SelfCheck(const PatchPlan& plan, const std::filesystem::path& resources,
                      bool show_progress = false);

// The patcher's way of turning one entry's payload into the file's new content: inflated
// when comp, then decoded against the old content when the entry is an update carried as a
// diff. False when any step fails. `old` may be null for entries that need none.
bool DecodePayload(bool comp, bool diff, const std::vector<uint8_t>& payload,
                   const std::vector<uint8_t>* old, std::vector<uint8_t>& out);

// Inflates a whole zlib stream with the patcher's inflate loop; false when it is not one.
bool InflateWithProductCode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out);

// Decodes a diff with the patcher's decoder; false for a malformed diff.
bool ApplyWithProductCode(const std::vector<uint8_t>& old, const std::vector<uint8_t>& diff,
                          std::vector<uint8_t>& out);

}  // namespace vard::mkpatch
