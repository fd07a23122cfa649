// The resources folder a build writes: one file per embedded resource, named by its id
// (<id>.xml manifests, <id>.bin payloads, <id>.png skin images, 101.ico), version.bin (the
// version resource), and patch_data.rc, which lists the same as a resource script for a
// Windows program of one's own that compiles the patch in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/compare/patch_plan.h"

namespace vard::mkpatch {

inline constexpr int kMainManifestId = 5001;
inline constexpr int kFirstFreeId = 5002;
inline constexpr int kLastId = 0xFFFF;
inline constexpr const char* kRcName = "patch_data.rc";
inline constexpr const char* kIconName = "101.ico";  // present when the project sets skin.icon
inline constexpr const char* kVersionName = "version.bin";  // VERSIONINFO 1, as Windows stores it

// The most patch data (manifests, payloads and icon together) a patcher may embed. The
// data lies in the executable's resources, which Windows maps into the process with the
// rest of the image, in one piece of the 32-bit patcher's address space; other modules and
// the heap take their share of its 2 GiB, so 1000 MiB is as far as loading stays reliable
// (the patcher's own code, images and texts stay below 24 MiB of the 1 GiB that leaves).
inline constexpr uint64_t kMaxEmbeddedBytes = uint64_t{1000} << 20;

// True for ids the patcher uses for its own resources: the icon and skins (101 to 105), the
// string table's ids (200 to 225) and the main manifest (5001).
bool IsReservedId(int id);

std::filesystem::path PayloadPath(const std::filesystem::path& folder, int id);
// A skin image the project brings (id 102 to 105), beside the script like the icon.
std::filesystem::path SkinPath(const std::filesystem::path& folder, int id);
std::filesystem::path ManifestPath(const std::filesystem::path& folder, int id);

// Writes the main manifest, the pack manifests, the project's icon and skin images,
// version.bin and patch_data.rc (the DATA resources and the version resource) next to the
// payloads already in `folder` (payloads are written while the plan is built), and the
// list of the payloads that go to the overlay (overlay.h), which the script leaves out.
void WriteManifestsAndScript(const PatchPlan& plan, const std::filesystem::path& folder);

// The version resource (VS_VERSIONINFO) of the project's patcher: FILEVERSION and
// PRODUCTVERSION carry the "to" version as major.minor.0.0, the texts are in the
// language-neutral Unicode block, as patch_data.rc states them.
std::vector<uint8_t> VersionInfoBytes(const Project& project);

// Bytes of all resources in the folder that the patcher embeds (every file but the script,
// the overlay list and the payloads it lists).
uint64_t EmbeddedBytes(const std::filesystem::path& folder);

}  // namespace vard::mkpatch
