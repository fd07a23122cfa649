// The pixel arithmetic of drawing skin images, apart from the device-context calls that
// feed it: alpha compositing, stamping rendered text into an image, and the alpha bytes of
// a layered window's frame. Portable and exact, so it is tested natively.
#pragma once

#include <cstdint>

#include "ui/cx_image.h"

namespace vard {

// A 24-bit bottom-up BGR raster owned elsewhere (the bits of a DIB).
struct BgrRaster {
  uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

struct BgrColour {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
};

// One channel of image over destination with image alpha a: exact copy at 255, untouched
// at 0, otherwise (image * a + destination * (255 - a)) >> 8.
inline uint8_t BlendChannel(uint8_t image, uint8_t destination, uint8_t a) {
  if (a == 0) return destination;
  if (a == 255) return image;
  return static_cast<uint8_t>((image * a + destination * (255 - a)) >> 8);
}

// Composites image (which has an alpha plane) over dest, a copy of the destination area
// whose top-left pixel lies under image pixel (image_left, image_top). The caller keeps
// the area inside the image.
void BlendImageOver(const CxImage& image, int image_left, int image_top, const BgrRaster& dest);

// Left edge of a text box of box_width for anchor x: alignment 0 keeps x, 1 centres the
// box on x (width halved, truncated), 2 ends it at x; a negative result becomes 0.
int TextBoxLeft(int x, int box_width, int alignment);

// Sets image pixels to colour wherever box (a rendered text, glyph coverage in its blue
// bytes) is non-zero. The box's bottom row lands on top-down image row y and its left
// column on TextBoxLeft(x, box.width, alignment); parts outside the image are dropped and
// the alpha plane is left alone.
void StampTextBox(CxImage& image, const BgrRaster& box, int x, int y, int alignment,
                  BgrColour colour);

// Writes the alpha plane of image into the fourth byte of every pixel of a 32-bit
// bottom-up frame of the same size.
void SetFrameAlpha(uint8_t* frame_bits, const CxImage& image);

}  // namespace vard
