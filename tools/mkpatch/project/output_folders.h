// Where a build may write. The output folder and the build folder must stay clear of every
// old and new folder of the project: the build replaces folders inside its output folder,
// and anything written into a pack folder would end up in the next patch as game files.
// mkpatch marks an output folder as its own when it takes it, and replaces folders only in
// a marked one.
#pragma once

#include <filesystem>

#include "mkpatch/project/project_file.h"

namespace vard::mkpatch {

// The file that marks an output folder as mkpatch's own.
inline constexpr const char* kOutputMarker = ".mkpatch-output";

// Throws InputError when `out` or `build_dir` (empty: none given) equals, lies inside or
// contains an old or new folder of the project. Paths are compared with links resolved.
void CheckOutputFolders(const Project& project, const std::filesystem::path& out,
                        const std::filesystem::path& build_dir);

// Makes `out` mkpatch's output folder: creates it when missing, and writes the marker into
// it when it is new, empty, or holds a patch of an earlier mkpatch (resources/patch_data.rc).
// Throws InputError for an existing folder with other content and no marker: the build
// would replace its "resources" folder.
void ClaimOutputFolder(const std::filesystem::path& out);

}  // namespace vard::mkpatch
