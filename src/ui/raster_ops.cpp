#include "ui/raster_ops.h"

namespace vard {

void BlendImageOver(const CxImage& image, int image_left, int image_top, const BgrRaster& dest) {
  if (image.Empty() || !image.HasAlpha() || dest.bits == nullptr) return;
  for (int row = 0; row < dest.height; ++row) {
    const int image_row = image_top + row;  // top-down
    uint8_t* out = dest.bits + static_cast<size_t>(dest.height - 1 - row) * dest.stride;
    for (int col = 0; col < dest.width; ++col, out += 3) {
      const int image_col = image_left + col;
      const uint8_t a = image.alpha[image.AlphaOffset(image_col, image_row)];
      const uint8_t* in = image.pixels.data() + image.PixelOffset(image_col, image_row);
      out[0] = BlendChannel(in[0], out[0], a);
      out[1] = BlendChannel(in[1], out[1], a);
      out[2] = BlendChannel(in[2], out[2], a);
    }
  }
}

int TextBoxLeft(int x, int box_width, int alignment) {
  if (alignment == 1) {
    x -= box_width / 2;
  } else if (alignment == 2) {
    x -= box_width;
  }
  return x < 0 ? 0 : x;
}

void StampTextBox(CxImage& image, const BgrRaster& box, int x, int y, int alignment,
                  BgrColour colour) {
  if (image.Empty() || box.bits == nullptr) return;
  const int left = TextBoxLeft(x, box.width, alignment);
  for (int j = 0; j < box.height; ++j) {  // j counts up from the box's bottom row
    const int row = y - j;
    if (row < 0 || row >= image.height) continue;
    const uint8_t* in = box.bits + static_cast<size_t>(j) * box.stride;
    for (int i = 0; i < box.width; ++i) {
      const int col = left + i;
      if (col >= image.width) break;
      if (in[3 * i] == 0) continue;
      uint8_t* out = image.pixels.data() + image.PixelOffset(col, row);
      out[0] = colour.blue;
      out[1] = colour.green;
      out[2] = colour.red;
    }
  }
}

void SetFrameAlpha(uint8_t* frame_bits, const CxImage& image) {
  if (frame_bits == nullptr || !image.HasAlpha()) return;
  const size_t count = static_cast<size_t>(image.width) * image.height;
  for (size_t i = 0; i < count; ++i) frame_bits[4 * i + 3] = image.alpha[i];
}

}  // namespace vard
