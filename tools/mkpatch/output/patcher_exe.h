// The patcher executables, the builder's last stage: the patch's resources (main and pack
// manifests, payloads, the project's skin images and icon, the version information) are
// written into copies of the two patcher stubs that the project builds once (the win32
// and win64 presets' patcher-stub.exe, installed as share/vard/patcher-win32.exe and
// patcher-win64.exe). Every other resource and every byte outside the resource section
// stay as built; no compiler runs at patch time. Signing follows.
#pragma once

#include <filesystem>
#include <string>

#include "mkpatch/output/pe_image.h"
#include "mkpatch/output/resource_tree.h"
#include "mkpatch/project/project_file.h"

namespace vard::mkpatch {

// A stub carries this named "DATA" resource; its text names the resource layout that
// the stub's code reads, which the builder must write. Built patchers do not carry it.
inline constexpr const char* kStubMarkerName = "VARDSTUB";
inline constexpr const char* kStubMarkerText = "vard patcher stub 1";

enum class StubArch { kWin32, kWin64 };
const char* ArchName(StubArch arch);  // "win32", "win64"

// Where the stubs are: `dir` when given, else share/vard beside the bin folder of the
// running mkpatch (/proc/self/exe), as `cmake --install` and the Debian package lay it out.
std::filesystem::path StubFolder(const std::filesystem::path& dir);
std::filesystem::path StubPath(const std::filesystem::path& folder, StubArch arch);

struct Stub {
  std::filesystem::path path;
  PeImage image;
  ResourceTree resources;
};

// Reads and checks a stub: a PE image of the architecture's machine whose resources carry
// the marker with the layout this mkpatch writes. Throws InputError naming the file and
// what is wrong (missing, not an executable, damaged, another machine, not a stub).
Stub LoadStub(const std::filesystem::path& path, StubArch arch);

// Writes `out`: the stub with the resources of the folder mkpatch build wrote (see
// resource_folder.h) in place of its own skin images and icon where the folder brings
// them, and without the stub marker; the payloads the folder's overlay.txt lists follow the
// image as its overlay (overlay.h). Written aside and renamed, so `out` is either the
// old file or the whole new one. Throws InputError for a folder it cannot read.
void WritePatcherExe(const Stub& stub, const std::filesystem::path& resources,
                     const std::filesystem::path& out);

// The largest patcher file that can be signed: Authenticode finds its certificate table,
// which follows everything else, by a 32-bit file offset, so a signed file stays below
// 4 GiB; 1 MiB of that is left for the table.
inline constexpr uint64_t kMaxSignedPatcherBytes = (uint64_t{1} << 32) - (uint64_t{1} << 20);

// Signs exe in place with Authenticode (osslsigncode, SHA-256, the product name as the
// description, a time stamp when a server is named) and verifies the signature against
// the certificate file and the system's certificate authorities. Throws InputError for a
// file larger than kMaxSignedPatcherBytes, std::runtime_error when signing fails.
void SignPatcher(const std::filesystem::path& exe, const SigningSetup& sign,
                 const std::string& product);

}  // namespace vard::mkpatch
