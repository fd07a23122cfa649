// The exe build, the builder's last stage: drives the patcher's own CMake cross-build
// (the win32 and win64 toolchains of this source tree) with -DVARD_PATCH_RC pointing at the
// resources folder's script, and copies the two patcher.exe out. The patcher is compiled
// from source rather than patched into a template, so a patch always carries the code of
// the tree mkpatch was built from.
#pragma once

#include <filesystem>

namespace vard::mkpatch {

// The source tree used for the cross-build: $VARD_SOURCE_DIR, else the tree this mkpatch
// was built from.
std::filesystem::path PatcherSourceDir();

// Builds out/patcher-win32.exe and out/patcher-win64.exe, keeping the build folders under
// out/.build so a rebuild of the same patch is incremental. Throws std::runtime_error
// naming the failing command; its output has gone to stderr.
void BuildPatcherExes(const std::filesystem::path& rc_script, const std::filesystem::path& out);

}  // namespace vard::mkpatch
