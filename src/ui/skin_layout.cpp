#include "ui/skin_layout.h"

#include <algorithm>

#include "ui/raster_ops.h"

namespace vard {

std::vector<TextArea> ProgressTextAreas(int background_width) {
  using L = ProgressLayout;
  // Title: centred on the middle, up to the width of the bars' column. Status and detail:
  // from their left edge to the bars' right edge. Percentage: right-aligned, room for
  // "100%" in the large font.
  return {
      {"title", {28, L::kTitleY - 11, background_width - 28, L::kTitleY + 1}},
      {"status", {L::kStatusX, L::kStatusY - 11, 491, L::kStatusY + 1}},
      {"detail", {L::kDetailX, L::kDetailY - 11, 491, L::kDetailY + 1}},
      {"percentage", {L::kPercentX - 100, L::kPercentY - 23, L::kPercentX + 1, L::kPercentY + 1}},
  };
}

int BarClipRight(int left, int bar_width, float progress) {
  return left + static_cast<int>(bar_width * progress);
}

namespace {

void CompositeOverZero(const CxImage& image, uint8_t* frame_bits) {
  for (int row = 0; row < image.height; ++row) {
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* in = image.pixels.data() + image.PixelOffset(x, row);
      const uint8_t a = image.HasAlpha() ? image.alpha[image.AlphaOffset(x, row)] : 255;
      uint8_t* out = frame_bits + 4 * (static_cast<size_t>(image.height - 1 - row) * image.width + x);
      out[0] = BlendChannel(in[0], 0, a);
      out[1] = BlendChannel(in[1], 0, a);
      out[2] = BlendChannel(in[2], 0, a);
    }
  }
}

// Copies the bar's pixels inside its clip rectangle unchanged, as an image without alpha
// plane is drawn.
void CopyBar(const CxImage& bar, int left, int top, int clip_right, const CxImage& frame_shape,
             uint8_t* frame_bits) {
  if (bar.Empty()) return;
  const int right = std::min({clip_right, left + bar.width, frame_shape.width});
  const int bottom = std::min(top + bar.height, frame_shape.height);
  for (int y = std::max(top, 0); y < bottom; ++y) {
    for (int x = std::max(left, 0); x < right; ++x) {
      const uint8_t* in = bar.pixels.data() + bar.PixelOffset(x - left, y - top);
      uint8_t* out = frame_bits +
                     4 * (static_cast<size_t>(frame_shape.height - 1 - y) * frame_shape.width + x);
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
}

}  // namespace

void ComposeImageFrame(const CxImage& image, uint8_t* frame_bits) {
  if (image.Empty() || frame_bits == nullptr) return;
  CompositeOverZero(image, frame_bits);
  SetFrameAlpha(frame_bits, image);
}

void ComposeProgressFrame(const CxImage& canvas, const CxImage& item_bar,
                          const CxImage& total_bar, float item_progress, float total_progress,
                          uint8_t* frame_bits) {
  using L = ProgressLayout;
  if (canvas.Empty() || frame_bits == nullptr) return;
  CompositeOverZero(canvas, frame_bits);
  CopyBar(item_bar, L::kItemBarLeft, L::kItemBarTop,
          BarClipRight(L::kItemBarLeft, item_bar.width, item_progress), canvas, frame_bits);
  CopyBar(total_bar, L::kTotalBarLeft, L::kTotalBarTop,
          BarClipRight(L::kTotalBarLeft, total_bar.width, total_progress), canvas, frame_bits);
  SetFrameAlpha(frame_bits, canvas);
}

}  // namespace vard
