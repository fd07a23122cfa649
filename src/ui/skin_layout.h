// Where the progress window draws on its background, and the composition of one frame of a
// layered skin window from the images: portable, so that the windows, mkpatch's checks of a
// project's art and its previews all use the same numbers and the same pixel arithmetic.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/cx_image.h"

namespace vard {

// Positions on the progress window's background. A text's y is the top-down row of its
// box's bottom line.
struct ProgressLayout {
  static constexpr int kTitleY = 125;
  static constexpr int kDetailX = 35, kDetailY = 192;
  static constexpr int kStatusX = 35, kStatusY = 179;
  static constexpr int kPercentX = 500, kPercentY = 265;
  static constexpr int kItemBarLeft = 28, kItemBarTop = 196;
  static constexpr int kTotalBarLeft = 28, kTotalBarTop = 221;
  static constexpr int kSmallFontHeight = 8, kSmallFontWeight = 400;
  static constexpr int kPercentFontHeight = 20, kPercentFontWeight = 600;
  // The size of the bars the patcher draws by default.
  static constexpr int kDefaultBarWidth = 463, kDefaultBarHeight = 17;
};

// A rectangle of window pixels, right and bottom exclusive.
struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// The areas the four texts can cover on a background of that width: the title band, the
// status and detail lines and the percentage. The text boxes are measured by the system's
// font at run time, so each area allows for a box somewhat taller than the font height
// and for long texts.
struct TextArea {
  const char* name;
  PixelRect rect;
};
std::vector<TextArea> ProgressTextAreas(int background_width);

// The clip rectangle of a bar with its top-left corner at (left, top): the left part of
// the bar in proportion to progress (truncated toward zero).
int BarClipRight(int left, int bar_width, float progress);

// Frames are 32-bit bottom-up rasters as a layered window takes them: blue, green, red
// premultiplied by alpha, then alpha; width * height * 4 bytes.

// The splash's frame: image composited over an all-zero bitmap, which premultiplies its
// colours, with the alpha bytes from its alpha plane.
void ComposeImageFrame(const CxImage& image, uint8_t* frame_bits);

// The progress window's frame from canvas (the background with the texts already rendered
// into it) and the two bars at item and total progress: the canvas composited over zero,
// each bar's left part copied in unblended, alpha bytes from the canvas's alpha plane.
// frame_bits holds canvas.width * canvas.height * 4 bytes.
void ComposeProgressFrame(const CxImage& canvas, const CxImage& item_bar,
                          const CxImage& total_bar, float item_progress, float total_progress,
                          uint8_t* frame_bits);

}  // namespace vard
