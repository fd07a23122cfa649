// The resources folder a build writes: one file per embedded resource, named by its id, and
// patch_data.rc, the resource script that the patcher's Windows build compiles in
// (cmake -DVARD_PATCH_RC=<folder>/patch_data.rc).
#pragma once

#include <filesystem>
#include <string>

#include "mkpatch/patch_plan.h"

namespace vard::mkpatch {

inline constexpr int kMainManifestId = 5001;
inline constexpr int kFirstFreeId = 5002;
inline constexpr int kLastId = 0xFFFF;
inline constexpr const char* kRcName = "patch_data.rc";
inline constexpr const char* kIconName = "101.ico";  // present when the project sets skin.icon

// True for ids the patcher uses for its own resources: the icon and skins (101 to 105), the
// string table's ids (200 to 225) and the main manifest (5001).
bool IsReservedId(int id);

std::filesystem::path PayloadPath(const std::filesystem::path& folder, int id);
std::filesystem::path ManifestPath(const std::filesystem::path& folder, int id);

// Writes the main manifest, the pack manifests and patch_data.rc next to the payloads
// already in `folder` (payloads are written while the plan is built).
void WriteManifestsAndScript(const PatchPlan& plan, const std::filesystem::path& folder);

}  // namespace vard::mkpatch
