// `mkpatch preview`: the splash and the progress window of a project's patcher as PNG
// files, composed natively by the patcher's own decoding and frame code, so that an artist
// sees the result without Windows. The texts are left out: the patcher draws them with the
// system's "Courier" font at run time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/project/project_file.h"

namespace vard::mkpatch {

struct PreviewFrame {
  std::string file;  // name of the PNG in the output folder
  bool splash = false;
  float item_progress = 0, total_progress = 0;
};

// splash.png (at full opacity), window-start.png (both bars empty), window-half.png (both
// at 0.5) and window-done.png (both full).
const std::vector<PreviewFrame>& PreviewFrames();

// Writes the frames of the project into out as RGBA PNG files: alpha as the window's,
// colours as the window shows them over black where alpha is 255 and the straight colour
// elsewhere. Images the project does not name are the patcher's own, taken from the win64
// stub in `stubs` (see StubFolder). Returns the files written. Throws InputError or
// std::runtime_error.
std::vector<std::filesystem::path> WritePreview(const Project& project,
                                                const std::filesystem::path& out,
                                                const std::filesystem::path& stubs = {});

}  // namespace vard::mkpatch
