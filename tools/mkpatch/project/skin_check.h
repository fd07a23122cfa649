// Checks a project's skin images against what the patcher's windows need before they are
// embedded: the kind of PNG the patcher decodes, sizes that fit the window's layout, and
// full opacity wherever the progress window draws its bars and texts.
#pragma once

#include <filesystem>
#include <string>

#include "mkpatch/project/project_file.h"
#include "ui/cx_image.h"

namespace vard::mkpatch {

// The four images, each from the project or, when it names none, the patcher's own.
enum class SkinImage { kSplash = 102, kBackground = 103, kItemBar = 104, kTotalBar = 105 };

// Decodes the PNG with the patcher's own decoder and checks its kind: 8-bit RGBA (colour
// type 6) for the splash and the background, 8-bit RGB (colour type 2) for the bars, and
// a size the windows can use. Throws InputError naming the file and the rule.
CxImage LoadSkinPng(const std::filesystem::path& file, SkinImage which);

// Checks the images a project names, alone and together: the background is large enough
// for the layout and fully opaque in the text areas and under the bars, and the bars fit
// their places. Images the project leaves out are taken as the patcher's own (bars of
// 463 x 17 pixels, a background with opaque troughs of that size). Throws InputError.
void CheckSkin(const SkinOverrides& skin);

}  // namespace vard::mkpatch
