// Fuzz target of skin decoding: any bytes either decode into a consistent image (sizes,
// stride and alpha plane agree) or fail leaving the image empty. Before decoding, the
// chunk checksums are recomputed wherever the input has room for them, so that mutations
// reach the chunk contents instead of stopping at the checksum test.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ui/cx_image.h"

namespace {

std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void FixChunkChecksums(std::vector<std::uint8_t>& png) {
  std::size_t at = 8;
  while (png.size() - at >= 12) {
    const std::uint32_t length = Load32(&png[at]);
    if (length > png.size() - at - 12) return;
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, &png[at + 4], static_cast<uInt>(length) + 4));
    std::uint8_t* out = &png[at + 8 + length];
    out[0] = static_cast<std::uint8_t>(crc >> 24);
    out[1] = static_cast<std::uint8_t>(crc >> 16);
    out[2] = static_cast<std::uint8_t>(crc >> 8);
    out[3] = static_cast<std::uint8_t>(crc);
    at += 12 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  std::vector<std::uint8_t> png(input, input + size);
  if (png.size() >= 8) FixChunkChecksums(png);
  vard::CxImage image;
  image.width = 3;  // a stale image must not survive a failed decode
  image.pixels.assign(12, 0);
  if (!vard::DecodePng(image, png.data(), png.size())) {
    if (!image.Empty() || image.width != 0 || image.HasAlpha()) std::abort();
    return 0;
  }
  if (image.width <= 0 || image.height <= 0 || image.bits_per_pixel != 24) std::abort();
  if (image.stride != vard::DibStride(image.width, 24) || image.stride < image.width * 3) std::abort();
  if (image.pixels.size() != static_cast<std::size_t>(image.stride) * image.height) std::abort();
  if (image.HasAlpha() &&
      image.alpha.size() != static_cast<std::size_t>(image.width) * image.height) {
    std::abort();
  }
  // Touch the first and last pixel through the offsets the drawing code uses.
  volatile std::uint8_t sink = image.pixels[image.PixelOffset(0, 0)];
  sink = image.pixels[image.PixelOffset(image.width - 1, image.height - 1) + 2];
  if (image.HasAlpha()) sink = image.alpha[image.AlphaOffset(image.width - 1, 0)];
  (void)sink;
  return 0;
}
