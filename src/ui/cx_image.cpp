#include "ui/cx_image.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace vard {

int DibStride(int width, int bits_per_pixel) {
  return ((width * bits_per_pixel + 31) / 32) * 4;
}

bool CxImage::Create(int new_width, int new_height) {
  Clear();
  // The skins are small; the bound keeps a corrupt header from asking for gigabytes.
  if (new_width <= 0 || new_height <= 0 || new_width > 16384 || new_height > 16384) return false;
  width = new_width;
  height = new_height;
  bits_per_pixel = 24;
  stride = DibStride(width, bits_per_pixel);
  pixels.assign(static_cast<size_t>(stride) * height, 0);
  return true;
}

void CxImage::Clear() {
  width = height = bits_per_pixel = stride = 0;
  pixels.clear();
  pixels.shrink_to_fit();
  alpha.clear();
  alpha.shrink_to_fit();
}

void CopyImage(CxImage& target, const CxImage& source) {
  if (source.Empty()) {
    target.Clear();
    return;
  }
  target.width = source.width;
  target.height = source.height;
  target.bits_per_pixel = source.bits_per_pixel;
  target.stride = source.stride;
  target.pixels = source.pixels;
  target.alpha = source.alpha;
}

namespace {

// A read-only stream over the PNG bytes, handed to libpng as its input.
struct CxMemFile {
  const uint8_t* data;
  size_t size;
  size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* file = static_cast<CxMemFile*>(png_get_io_ptr(png));
  if (count > file->size - file->position) png_error(png, "read past end");
  std::memcpy(out, file->data + file->position, count);
  file->position += count;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

// The patcher writes no diagnostics; libpng's warnings (an unusual colour profile, say)
// are dropped.
void OnPngWarning(png_structp, png_const_charp) {}

// Everything between setjmp and the end of decoding lives here, so a longjmp out of
// libpng skips no destructor: the buffers belong to the caller.
bool ReadPng(png_structp png, png_infop info, CxMemFile* file, CxImage& image,
             std::vector<uint8_t>& samples, std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, file, ReadFromMemory);
  // Every ancillary chunk is skipped unread: none changes the samples we keep, and a text
  // or profile chunk would have libpng allocate whatever length its header claims.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colour = png_get_color_type(png, info);
  if (depth != 8 || (colour != PNG_COLOR_TYPE_RGB && colour != PNG_COLOR_TYPE_RGBA)) return false;
  const size_t channels = colour == PNG_COLOR_TYPE_RGBA ? 4 : 3;
  // Deflate expands at most 1032-fold, so a file this long cannot hold more samples than
  // that: a header claiming more would only make us allocate gigabytes for nothing.
  if (static_cast<uint64_t>(channels) * width * height > static_cast<uint64_t>(file->size) * 1032) {
    return false;
  }
  if (!image.Create(static_cast<int>(width), static_cast<int>(height))) return false;
  // Only reordering and deinterlacing: no gamma, no profile, no background.
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != channels * width) return false;
  samples.resize(channels * width * height);
  rows.resize(height);
  for (png_uint_32 r = 0; r < height; ++r) rows[r] = samples.data() + channels * width * r;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

bool DecodePng(CxImage& image, const uint8_t* bytes, size_t length) {
  image.Clear();
  if (bytes == nullptr || length < 8 || png_sig_cmp(bytes, 0, 8) != 0) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  CxMemFile file{bytes, length, 0};
  std::vector<uint8_t> samples;
  std::vector<png_bytep> rows;
  const bool ok = ReadPng(png, info, &file, image, samples, rows);
  const bool has_alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGBA;
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) {
    image.Clear();
    return false;
  }
  const size_t channels = has_alpha ? 4 : 3;
  if (has_alpha) image.alpha.assign(static_cast<size_t>(image.width) * image.height, 0);
  // PNG rows run top-down; the image stores the top row last.
  for (int r = 0; r < image.height; ++r) {
    const uint8_t* in = samples.data() + channels * image.width * r;
    for (int x = 0; x < image.width; ++x, in += channels) {
      uint8_t* out = image.pixels.data() + image.PixelOffset(x, r);
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      if (has_alpha) image.alpha[image.AlphaOffset(x, r)] = in[3];
    }
  }
  return true;
}

}  // namespace vard
