// Decoding of the skin PNGs and the exact pixel arithmetic of compositing and text
// placement. The skin files are the ones the build draws for the patcher.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/cx_image.h"
#include "ui/raster_ops.h"
#include "ui/skin_layout.h"

namespace vard {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadSkin(int id) {
  std::ifstream in(std::string(VARD_SKIN_DIR) + "/skin" + std::to_string(id) + ".png",
                   std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// A second, independent reading of our own PNGs: chunk walk, IDAT inflate, rows with
// filter 0 (what the skin script writes). Gives the top-down samples and the chunk names.
struct PlainPng {
  uint32_t width = 0, height = 0;
  int colour_type = 0;
  std::vector<std::string> chunks;
  Bytes samples;  // top-down, no filter bytes
};

PlainPng ReadPlain(const Bytes& file) {
  PlainPng png;
  Bytes idat;
  for (size_t pos = 8; pos + 12 <= file.size();) {
    const uint32_t length = Be32(&file[pos]);
    const std::string kind(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    png.chunks.push_back(kind);
    const uint8_t* data = &file[pos + 8];
    if (kind == "IHDR") {
      png.width = Be32(data);
      png.height = Be32(data + 4);
      png.colour_type = data[9];
    } else if (kind == "IDAT") {
      idat.insert(idat.end(), data, data + length);
    }
    pos += 12 + length;
  }
  const size_t channels = png.colour_type == 6 ? 4 : 3;
  const size_t row = channels * png.width;
  Bytes raw((row + 1) * png.height);
  uLongf raw_size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &raw_size, idat.data(), idat.size()), Z_OK);
  for (uint32_t r = 0; r < png.height; ++r) {
    EXPECT_EQ(raw[r * (row + 1)], 0) << "row " << r << " uses a filter";
    png.samples.insert(png.samples.end(), raw.begin() + r * (row + 1) + 1,
                       raw.begin() + (r + 1) * (row + 1));
  }
  return png;
}

void AddChunk(Bytes& out, const char* kind, const Bytes& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  Bytes body(kind, kind + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  PutBe32(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A small PNG of top-down samples, with an extreme gAMA so any gamma correction shows.
Bytes MakePng(uint32_t width, uint32_t height, int colour_type, int depth, const Bytes& samples) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {static_cast<uint8_t>(depth), static_cast<uint8_t>(colour_type), 0, 0, 0});
  AddChunk(out, "IHDR", ihdr);
  Bytes gamma;
  PutBe32(gamma, 20000);
  AddChunk(out, "gAMA", gamma);
  const size_t row = samples.size() / height;
  Bytes raw;
  for (uint32_t r = 0; r < height; ++r) {
    raw.push_back(0);
    raw.insert(raw.end(), samples.begin() + r * row, samples.begin() + (r + 1) * row);
  }
  Bytes packed(compressBound(raw.size()));
  uLongf packed_size = packed.size();
  compress(packed.data(), &packed_size, raw.data(), raw.size());
  packed.resize(packed_size);
  AddChunk(out, "IDAT", packed);
  AddChunk(out, "IEND", {});
  return out;
}

TEST(DecodePng, BackgroundKeepsEverySampleWithTopRowStoredLast) {
  const Bytes file = ReadSkin(103);
  ASSERT_FALSE(file.empty());
  const PlainPng plain = ReadPlain(file);
  CxImage image;
  ASSERT_TRUE(DecodePng(image, file.data(), file.size()));
  EXPECT_EQ(image.width, 519);
  EXPECT_EQ(image.height, 316);
  EXPECT_EQ(image.bits_per_pixel, 24);
  EXPECT_EQ(image.stride, 1560);
  ASSERT_EQ(image.alpha.size(), 519u * 316u);
  ASSERT_EQ(image.pixels.size(), 1560u * 316u);
  // The alpha plane's first row is the PNG's bottom row.
  for (int x = 0; x < 519; ++x) {
    ASSERT_EQ(image.alpha[x], plain.samples[(315 * 519 + x) * 4 + 3]) << x;
  }
  size_t mismatches = 0;
  for (int r = 0; r < 316; ++r) {
    for (int x = 0; x < 519; ++x) {
      const uint8_t* in = &plain.samples[(static_cast<size_t>(r) * 519 + x) * 4];
      const uint8_t* out = &image.pixels[image.PixelOffset(x, r)];
      mismatches += out[0] != in[2] || out[1] != in[1] || out[2] != in[0] ||
                    image.alpha[image.AlphaOffset(x, r)] != in[3];
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(DecodePng, SkinFilesHaveTheShapesTheWindowsNeed) {
  struct Expect { int id; int width, height, colour_type; bool iccp; };
  for (const Expect& e : {Expect{102, 519, 126, 6, true}, Expect{103, 519, 316, 6, false},
                          Expect{104, 463, 17, 2, false}, Expect{105, 463, 17, 2, false}}) {
    SCOPED_TRACE(e.id);
    const PlainPng plain = ReadPlain(ReadSkin(e.id));
    EXPECT_EQ(plain.width, static_cast<uint32_t>(e.width));
    EXPECT_EQ(plain.height, static_cast<uint32_t>(e.height));
    EXPECT_EQ(plain.colour_type, e.colour_type);
    auto has = [&](const char* name) {
      return std::find(plain.chunks.begin(), plain.chunks.end(), name) != plain.chunks.end();
    };
    EXPECT_TRUE(has("gAMA") && has("cHRM") && has("pHYs"));
    EXPECT_EQ(has("iCCP"), e.iccp);
    EXPECT_FALSE(has("tRNS") || has("bKGD"));
    CxImage image;
    ASSERT_TRUE(DecodePng(image, ReadSkin(e.id).data(), ReadSkin(e.id).size()));
    EXPECT_EQ(image.HasAlpha(), e.colour_type == 6);
  }
  // The background: transparent pixels are white, the bar troughs fully opaque, the
  // corners transparent.
  CxImage background;
  const Bytes file = ReadSkin(103);
  ASSERT_TRUE(DecodePng(background, file.data(), file.size()));
  for (int r = 0; r < background.height; ++r) {
    for (int x = 0; x < background.width; ++x) {
      if (background.alpha[background.AlphaOffset(x, r)] != 0) continue;
      const uint8_t* p = &background.pixels[background.PixelOffset(x, r)];
      ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << x << "," << r;
    }
  }
  for (int top : {196, 221}) {
    for (int r = top; r < top + 17; ++r) {
      for (int x = 28; x < 28 + 463; ++x) ASSERT_EQ(background.alpha[background.AlphaOffset(x, r)], 255);
    }
  }
  EXPECT_EQ(background.alpha[background.AlphaOffset(0, 0)], 0);
  EXPECT_EQ(background.alpha[background.AlphaOffset(518, 315)], 0);
}

TEST(DecodePng, TakesSamplesUnchangedDespiteGammaAndRejectsOtherKinds) {
  // 2 x 2 RGBA, top row first.
  const Bytes rgba = {200, 100, 50, 128, 1, 2, 3, 255, 10, 20, 30, 0, 255, 255, 255, 0};
  CxImage image;
  Bytes file = MakePng(2, 2, 6, 8, rgba);
  ASSERT_TRUE(DecodePng(image, file.data(), file.size()));
  EXPECT_EQ(image.stride, 8);
  const uint8_t* top_left = &image.pixels[image.PixelOffset(0, 0)];
  EXPECT_EQ(top_left - image.pixels.data(), 8);  // the top row is stored second
  EXPECT_EQ(Bytes(top_left, top_left + 6), (Bytes{50, 100, 200, 3, 2, 1}));
  EXPECT_EQ(image.alpha, (Bytes{0, 0, 128, 255}));

  const Bytes rgb = {9, 8, 7};
  file = MakePng(1, 1, 2, 8, rgb);
  ASSERT_TRUE(DecodePng(image, file.data(), file.size()));
  EXPECT_FALSE(image.HasAlpha());
  EXPECT_EQ(Bytes(image.pixels.begin(), image.pixels.begin() + 3), (Bytes{7, 8, 9}));

  file = MakePng(1, 1, 0, 8, {42});  // greyscale
  EXPECT_FALSE(DecodePng(image, file.data(), file.size()));
  EXPECT_TRUE(image.Empty());
  file = MakePng(1, 1, 2, 16, {0, 1, 0, 2, 0, 3});
  EXPECT_FALSE(DecodePng(image, file.data(), file.size()));

  const Bytes skin = ReadSkin(104);
  EXPECT_FALSE(DecodePng(image, skin.data(), skin.size() / 2));  // truncated
  EXPECT_TRUE(image.Empty());
  Bytes damaged = skin;
  damaged[20] ^= 0xff;  // inside the header chunk: its CRC no longer matches
  EXPECT_FALSE(DecodePng(image, damaged.data(), damaged.size()));
  EXPECT_FALSE(DecodePng(image, nullptr, 0));
}

TEST(BlendImageOver, UsesTheExactShiftedBlendAndTheImageOffset) {
  CxImage image;
  ASSERT_TRUE(image.Create(3, 1));
  image.alpha = {128, 0, 255};
  const uint8_t colours[3][3] = {{50, 100, 200}, {255, 255, 255}, {7, 8, 9}};  // BGR
  for (int x = 0; x < 3; ++x) std::memcpy(&image.pixels[image.PixelOffset(x, 0)], colours[x], 3);

  uint8_t black[12] = {};
  BlendImageOver(image, 0, 0, BgrRaster{black, 3, 1, 12});
  EXPECT_EQ(Bytes(black, black + 9), (Bytes{25, 50, 100, 0, 0, 0, 7, 8, 9}));

  // Over a non-black destination, starting one pixel into the image.
  uint8_t grey[8] = {100, 100, 100, 100, 100, 100};
  BlendImageOver(image, 1, 0, BgrRaster{grey, 2, 1, 8});
  EXPECT_EQ(Bytes(grey, grey + 6), (Bytes{100, 100, 100, 7, 8, 9}));
  uint8_t light[4] = {200, 200, 200};
  BlendImageOver(image, 0, 0, BgrRaster{light, 1, 1, 4});
  // (50*128 + 200*127) >> 8 = 124, (100*128 + 200*127) >> 8 = 149, (200*128+200*127) >> 8 = 199
  EXPECT_EQ(Bytes(light, light + 3), (Bytes{124, 149, 199}));
}

TEST(BlendImageOver, MapsTopDownAreaRowsOntoBottomUpRows) {
  CxImage image;
  ASSERT_TRUE(image.Create(1, 3));
  image.alpha = {255, 255, 255};
  for (int r = 0; r < 3; ++r) image.pixels[image.PixelOffset(0, r)] = static_cast<uint8_t>(10 + r);
  uint8_t dest[8] = {};
  BlendImageOver(image, 0, 1, BgrRaster{dest, 1, 2, 4});  // image rows 1 and 2
  EXPECT_EQ(dest[0], 12);  // the bottom row of the area comes first
  EXPECT_EQ(dest[4], 11);
}

// A text box raster with coverage (blue byte 255) at the listed bottom-up cells.
struct Box {
  Box(int w, int h) : width(w), height(h), stride(DibStride(w, 24)), bits(stride * h) {}
  void Cover(int i, int j) { bits[static_cast<size_t>(j) * stride + 3 * i] = 255; }
  BgrRaster raster() { return BgrRaster{bits.data(), width, height, stride}; }
  int width, height, stride;
  Bytes bits;
};

bool Painted(const CxImage& image, int x, int row) {
  const uint8_t* p = &image.pixels[image.PixelOffset(x, row)];
  return p[0] == 1 && p[1] == 2 && p[2] == 3;
}

TEST(StampTextBox, PlacesBoxesByAlignment) {
  EXPECT_EQ(TextBoxLeft(259, 108, 1), 205);  // measured 100 x 8: box 108 wide
  EXPECT_EQ(TextBoxLeft(259, 107, 1), 206);
  EXPECT_EQ(TextBoxLeft(500, 60, 2), 440);
  EXPECT_EQ(TextBoxLeft(30, 60, 2), 0);     // wider than x: starts at column 0
  EXPECT_EQ(TextBoxLeft(35, 60, 0), 35);
  EXPECT_EQ(TextBoxLeft(20, 60, 1), 0);

  CxImage image;
  ASSERT_TRUE(image.Create(519, 316));
  image.alpha.assign(519 * 316, 77);
  Box box(108, 8);
  box.Cover(0, 0);    // bottom-left
  box.Cover(107, 7);  // top-right
  StampTextBox(image, box.raster(), 259, 125, 1, BgrColour{1, 2, 3});
  EXPECT_TRUE(Painted(image, 205, 125));
  EXPECT_TRUE(Painted(image, 312, 118));
  EXPECT_FALSE(Painted(image, 205, 118));
  EXPECT_EQ(image.alpha[image.AlphaOffset(205, 125)], 77);

  Box right(60, 8);
  right.Cover(59, 0);
  right.Cover(0, 0);
  StampTextBox(image, right.raster(), 30, 200, 2, BgrColour{1, 2, 3});
  EXPECT_TRUE(Painted(image, 0, 200));
  EXPECT_TRUE(Painted(image, 59, 200));
}

TEST(StampTextBox, DropsWhatFallsOutsideTheImage) {
  CxImage image;
  ASSERT_TRUE(image.Create(10, 10));
  Box box(4, 8);
  for (int j = 0; j < 8; ++j)
    for (int i = 0; i < 4; ++i) box.Cover(i, j);
  // Bottom line on row 5: rows 5 down to -2; the two top rows are lost.
  StampTextBox(image, box.raster(), 8, 5, 0, BgrColour{1, 2, 3});
  int painted = 0;
  for (int r = 0; r < 10; ++r)
    for (int x = 0; x < 10; ++x) painted += Painted(image, x, r);
  EXPECT_EQ(painted, 2 * 6);  // columns 8 and 9 (10 and 11 are past the width), rows 0-5
  EXPECT_TRUE(Painted(image, 9, 0));
  EXPECT_FALSE(Painted(image, 9, 6));

  CxImage empty;
  StampTextBox(empty, box.raster(), 0, 0, 0, BgrColour{1, 2, 3});
  EXPECT_TRUE(empty.Empty());
}

TEST(CopyImage, CopiesPixelsAndAlphaExactly) {
  CxImage source;
  ASSERT_TRUE(source.Create(5, 3));
  for (size_t i = 0; i < source.pixels.size(); ++i) source.pixels[i] = static_cast<uint8_t>(i * 7);
  source.alpha.assign(15, 9);
  CxImage target;
  ASSERT_TRUE(target.Create(2, 2));
  CopyImage(target, source);
  EXPECT_EQ(target.width, 5);
  EXPECT_EQ(target.height, 3);
  EXPECT_EQ(target.stride, 16);
  EXPECT_EQ(target.pixels, source.pixels);
  EXPECT_EQ(target.alpha, source.alpha);

  uint8_t frame[15 * 4] = {};
  SetFrameAlpha(frame, source);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(frame[4 * i + 3], 9);
  EXPECT_EQ(frame[0], 0);
}

// One pixel of a 32-bit bottom-up frame at a top-down row: blue, green, red, alpha.
std::vector<int> FramePixel(const std::vector<uint8_t>& frame, int width, int height, int x, int y) {
  const uint8_t* p = &frame[4 * (static_cast<size_t>(height - 1 - y) * width + x)];
  return {p[0], p[1], p[2], p[3]};
}

TEST(ComposeProgressFrame, PremultipliesTheCanvasAndCopiesTheBarsInProportion) {
  CxImage canvas, item, total;
  ASSERT_TRUE(canvas.Create(519, 316));
  canvas.alpha.assign(519 * 316, 255);
  for (int y = 0; y < 316; ++y)
    for (int x = 0; x < 519; ++x) {
      uint8_t* p = &canvas.pixels[canvas.PixelOffset(x, y)];
      p[0] = 50, p[1] = 100, p[2] = 200;
    }
  canvas.alpha[canvas.AlphaOffset(3, 2)] = 128;
  canvas.alpha[canvas.AlphaOffset(0, 0)] = 0;
  ASSERT_TRUE(item.Create(463, 17));
  ASSERT_TRUE(total.Create(463, 17));
  std::fill(item.pixels.begin(), item.pixels.end(), 9);
  std::fill(total.pixels.begin(), total.pixels.end(), 7);

  std::vector<uint8_t> frame(519 * 316 * 4, 0);
  ComposeProgressFrame(canvas, item, total, 0.5f, 1.0f, frame.data());
  EXPECT_EQ(FramePixel(frame, 519, 316, 3, 2), (std::vector<int>{25, 50, 100, 128}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 0, 0), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 10, 10), (std::vector<int>{50, 100, 200, 255}));
  // Item bar at 0.5: columns 28 to 258 (231 of them), rows 196 to 212.
  EXPECT_EQ(FramePixel(frame, 519, 316, 258, 196), (std::vector<int>{9, 9, 9, 255}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 259, 196), (std::vector<int>{50, 100, 200, 255}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 28, 212), (std::vector<int>{9, 9, 9, 255}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 28, 213), (std::vector<int>{50, 100, 200, 255}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 27, 200), (std::vector<int>{50, 100, 200, 255}));
  // Total bar full: all 463 columns.
  EXPECT_EQ(FramePixel(frame, 519, 316, 490, 221), (std::vector<int>{7, 7, 7, 255}));
  EXPECT_EQ(FramePixel(frame, 519, 316, 491, 221), (std::vector<int>{50, 100, 200, 255}));

  // At 0 no bar column shows; a bar wider than the canvas is cut at its edge.
  std::fill(frame.begin(), frame.end(), 0);
  ComposeProgressFrame(canvas, item, total, 0.0f, 0.0f, frame.data());
  EXPECT_EQ(FramePixel(frame, 519, 316, 28, 200), (std::vector<int>{50, 100, 200, 255}));
  CxImage wide;
  ASSERT_TRUE(wide.Create(600, 17));
  std::fill(wide.pixels.begin(), wide.pixels.end(), 5);
  ComposeProgressFrame(canvas, wide, total, 1.0f, 0.0f, frame.data());
  EXPECT_EQ(FramePixel(frame, 519, 316, 518, 200), (std::vector<int>{5, 5, 5, 255}));
}

TEST(ProgressTextAreas, CoverWhereTheTextsAreAnchored) {
  using L = ProgressLayout;
  const std::vector<TextArea> areas = ProgressTextAreas(519);
  ASSERT_EQ(areas.size(), 4u);
  EXPECT_TRUE(areas[0].rect.Contains(519 / 2, L::kTitleY));
  EXPECT_TRUE(areas[1].rect.Contains(L::kStatusX, L::kStatusY));
  EXPECT_TRUE(areas[2].rect.Contains(L::kDetailX, L::kDetailY));
  EXPECT_TRUE(areas[3].rect.Contains(L::kPercentX, L::kPercentY));
  EXPECT_FALSE(areas[3].rect.Contains(L::kPercentX + 1, L::kPercentY));
  // None reaches into the bars.
  for (const TextArea& area : areas) {
    EXPECT_FALSE(area.rect.Contains(100, L::kItemBarTop)) << area.name;
    EXPECT_FALSE(area.rect.Contains(100, L::kTotalBarTop)) << area.name;
  }
}

}  // namespace
}  // namespace vard
