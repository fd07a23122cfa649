// The raster image the skinned windows are drawn from: 24-bit blue-green-red rows, bottom
// row first (the layout of a bottom-up Windows DIB), with an optional alpha plane in the
// same row order. Portable, so decoding and pixel arithmetic can be tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard {

struct CxImage {
  int width = 0;
  int height = 0;
  int bits_per_pixel = 0;
  int stride = 0;                 // bytes per pixel row, a multiple of 4
  std::vector<uint8_t> pixels;    // empty for an empty image
  std::vector<uint8_t> alpha;     // width * height bytes, or empty for none

  bool Empty() const { return pixels.empty(); }
  bool HasAlpha() const { return !alpha.empty(); }

  // Makes this a width x height 24-bit image of black pixels without alpha plane; with a
  // non-positive size it becomes empty and returns false.
  bool Create(int new_width, int new_height);
  void Clear();

  // Byte offset of pixel (x, row) where row counts from the top of the picture.
  size_t PixelOffset(int x, int top_down_row) const {
    return static_cast<size_t>(height - 1 - top_down_row) * stride + static_cast<size_t>(x) * 3;
  }
  size_t AlphaOffset(int x, int top_down_row) const {
    return static_cast<size_t>(height - 1 - top_down_row) * width + static_cast<size_t>(x);
  }
};

// Bytes per row of a DIB of that width and depth: rows padded to whole 32-bit words.
int DibStride(int width, int bits_per_pixel);

// Makes target an exact copy of source, alpha plane included when source has one.
void CopyImage(CxImage& target, const CxImage& source);

// Decodes an 8-bit RGB (colour type 2) or RGBA (colour type 6) PNG held in memory into
// image, samples unchanged: gamma, chromaticity and colour-profile chunks are ignored and
// nothing is composited over a background. The PNG's top row becomes the last stored row.
// Returns false, leaving image empty, on any failure or unsupported kind.
bool DecodePng(CxImage& image, const uint8_t* bytes, size_t length);

}  // namespace vard
