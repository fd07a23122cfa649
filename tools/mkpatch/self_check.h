// The builder's last stage before output: every payload written to the resources folder is
// read back and run through the patcher's own portable code (the zlib inflate loop and the
// diff decoder), and the result must have the new file's exact size and checksum.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mkpatch/patch_plan.h"

namespace vard::mkpatch {

// Problems found, one line each ("bundles/x.bin: rebuilt file has checksum ... expected
// ..."); empty when every entry checks out. `progress` is called once per checked file.
std::vector<std::string> SelfCheck(const PatchPlan& plan, const std::filesystem::path& resources,
                                   const std::function<void(const std::string&)>& progress);

// Inflates a whole zlib stream with the patcher's inflate loop; false when it is not one.
bool InflateWithProductCode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out);

// Decodes a diff with the patcher's decoder; false for a malformed diff.
bool ApplyWithProductCode(const std::vector<uint8_t>& old, const std::vector<uint8_t>& diff,
                          std::vector<uint8_t>& out);

}  // namespace vard::mkpatch
