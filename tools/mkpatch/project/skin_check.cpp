#include "mkpatch/project/skin_check.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "ui/skin_layout.h"

namespace vard::mkpatch {
namespace {

// A window larger than this would not fit a player's screen.
constexpr int kMaxWindowWidth = 2048, kMaxWindowHeight = 1536;

const char* KeyOf(SkinImage which) {
  switch (which) {
    case SkinImage::kSplash: return "skin.splash";
    case SkinImage::kBackground: return "skin.background";
    case SkinImage::kItemBar: return "skin.item_bar";
    case SkinImage::kTotalBar: return "skin.total_bar";
  }
  return "skin";
}

[[noreturn]] void Refuse(const std::filesystem::path& file, SkinImage which, const std::string& rule) {
  throw InputError("project file: " + std::string(KeyOf(which)) + " " + file.string() + ": " + rule);
}

std::string Size(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

std::string RectText(const PixelRect& r) {
  char text[96];
  std::snprintf(text, sizeof text, "columns %d to %d, rows %d to %d", r.left, r.right - 1, r.top,
                r.bottom - 1);
  return text;
}

// The first pixel of rect that is not fully opaque, as text, or "" when all are.
std::string FirstSeeThrough(const CxImage& image, const PixelRect& rect) {
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = rect.left; x < rect.right; ++x)
      if (image.alpha[image.AlphaOffset(x, y)] != 255) {
        return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") has alpha " +
               std::to_string(image.alpha[image.AlphaOffset(x, y)]);
      }
  return "";
}

void CheckOpaque(const CxImage& background, const std::filesystem::path& file, const char* what,
                 const PixelRect& rect) {
  if (rect.left < 0 || rect.top < 0 || rect.right > background.width ||
      rect.bottom > background.height) {
    Refuse(file, SkinImage::kBackground,
           "the " + std::string(what) + " (" + RectText(rect) + ") lies outside the " +
               Size(background.width, background.height) + " image");
  }
  const std::string problem = FirstSeeThrough(background, rect);
  if (!problem.empty()) {
    Refuse(file, SkinImage::kBackground,
           "the " + std::string(what) + " (" + RectText(rect) + ") must be fully opaque, but " +
               problem);
  }
}

}  // namespace

CxImage LoadSkinPng(const std::filesystem::path& file, SkinImage which) {
  const Bytes bytes = ReadWholeFile(file);
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 33 || !std::equal(kSignature, kSignature + 8, bytes.begin()) ||
      std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR") {
    Refuse(file, which, "not a PNG file");
  }
  const bool wants_alpha = which == SkinImage::kSplash || which == SkinImage::kBackground;
  const int depth = bytes[24], colour = bytes[25];
  const int wanted_colour = wants_alpha ? 6 : 2;
  if (depth != 8 || colour != wanted_colour) {
    Refuse(file, which,
           std::string("must be an 8-bit ") + (wants_alpha ? "RGBA PNG (colour type 6, with alpha)"
                                                           : "RGB PNG (colour type 2, no alpha)") +
               ", but has colour type " + std::to_string(colour) + " at " + std::to_string(depth) +
               " bits per sample");
  }
  CxImage image;
  if (!DecodePng(image, bytes.data(), bytes.size()))
    Refuse(file, which, "the patcher cannot decode it (a damaged or truncated PNG)");
  if (image.width > kMaxWindowWidth || image.height > kMaxWindowHeight)
    Refuse(file, which, "is " + Size(image.width, image.height) + " pixels, more than the " +
                            Size(kMaxWindowWidth, kMaxWindowHeight) + " a window may have");
  return image;
}

void CheckSkin(const SkinOverrides& skin) {
  using L = ProgressLayout;
  if (!skin.splash.empty()) LoadSkinPng(skin.splash, SkinImage::kSplash);

  // A bar the project leaves out is the patcher's own.
  int item_width = L::kDefaultBarWidth, item_height = L::kDefaultBarHeight;
  int total_width = L::kDefaultBarWidth, total_height = L::kDefaultBarHeight;
  if (!skin.item_bar.empty()) {
    const CxImage bar = LoadSkinPng(skin.item_bar, SkinImage::kItemBar);
    item_width = bar.width;
    item_height = bar.height;
    // The item bar must stay clear of the total bar below it.
    if (L::kItemBarTop + item_height > L::kTotalBarTop)
      Refuse(skin.item_bar, SkinImage::kItemBar,
             "is " + std::to_string(item_height) + " pixels high; the item bar may be at most " +
                 std::to_string(L::kTotalBarTop - L::kItemBarTop) +
                 " (it would cover the total bar)");
  }
  if (!skin.total_bar.empty()) {
    const CxImage bar = LoadSkinPng(skin.total_bar, SkinImage::kTotalBar);
    total_width = bar.width;
    total_height = bar.height;
  }

  const PixelRect item_area{L::kItemBarLeft, L::kItemBarTop, L::kItemBarLeft + item_width,
                            L::kItemBarTop + item_height};
  const PixelRect total_area{L::kTotalBarLeft, L::kTotalBarTop, L::kTotalBarLeft + total_width,
                             L::kTotalBarTop + total_height};
  if (skin.background.empty()) {
    // The patcher's own background has opaque troughs of the default bar size only.
    for (const auto& [file, which, w, h] :
         {std::tuple{skin.item_bar, SkinImage::kItemBar, item_width, item_height},
          std::tuple{skin.total_bar, SkinImage::kTotalBar, total_width, total_height}}) {
      if (!file.empty() && (w != L::kDefaultBarWidth || h != L::kDefaultBarHeight))
        Refuse(file, which,
               "is " + Size(w, h) + " pixels; without a skin.background of the project's own a bar "
               "must be " + Size(L::kDefaultBarWidth, L::kDefaultBarHeight));
    }
    return;
  }
  const CxImage background = LoadSkinPng(skin.background, SkinImage::kBackground);
  for (const TextArea& area : ProgressTextAreas(background.width))
    CheckOpaque(background, skin.background, (std::string(area.name) + " text area").c_str(),
                area.rect);
  CheckOpaque(background, skin.background, "item bar area", item_area);
  CheckOpaque(background, skin.background, "total bar area", total_area);
}

}  // namespace vard::mkpatch
