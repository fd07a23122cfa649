// The exe build, the builder's last stage: drives the patcher's own CMake cross-build
// (the win32 and win64 toolchains of this source tree) with -DVARD_PATCH_RC pointing at the
// resources folder's script, and copies the two patcher.exe out. The patcher is compiled
// from source rather than patched into a template, so a patch always carries the code of
// the tree mkpatch was built from.
#pragma once

#include <filesystem>

#include "mkpatch/project/project_file.h"

namespace vard::mkpatch {

// The source tree used for the cross-build: $VARD_SOURCE_DIR, else the tree this mkpatch
// was built from.
std::filesystem::path PatcherSourceDir();

// Builds out/patcher-win32.exe and out/patcher-win64.exe in build_root/win32 and
// build_root/win64 (kept, so a rebuild is incremental; the same build_root serves any
// number of patches, which then share the compiled patcher and differ only in resources);
// with a signing setup, signs both copies (the build folders keep the unsigned ones).
// Throws std::runtime_error naming the failing command; its output has gone to stderr.
void BuildPatcherExes(const std::filesystem::path& rc_script, const std::filesystem::path& out,
                      const std::filesystem::path& build_root, const Project& project);

// Signs exe in place with Authenticode (osslsigncode, SHA-256, the product name as the
// description, a time stamp when a server is named) and verifies the signature against
// the certificate file and the system's certificate authorities. Throws std::runtime_error.
void SignPatcher(const std::filesystem::path& exe, const SigningSetup& sign,
                 const std::string& product);

}  // namespace vard::mkpatch
