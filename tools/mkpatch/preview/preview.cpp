#include "mkpatch/preview/preview.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "mkpatch/common/file_io.h"
#include "mkpatch/output/patcher_exe.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/project/skin_check.h"
#include "ui/skin_layout.h"

namespace vard::mkpatch {
namespace {

// The patcher's own skin image of that id, as the win64 stub carries it, written to
// out/.skins for the decoder (removed once the frames are drawn).
std::filesystem::path OwnSkin(const std::filesystem::path& out, const std::filesystem::path& stubs,
                              int id) {
  const Stub stub = LoadStub(StubPath(StubFolder(stubs), StubArch::kWin64), StubArch::kWin64);
  const auto data = stub.resources.find(ResourceKey::Name("DATA"));
  if (data != stub.resources.end()) {
    const auto image = data->second.find(ResourceKey::Id(static_cast<uint16_t>(id)));
    if (image != data->second.end() && !image->second.empty()) {
      const std::filesystem::path file = out / ".skins" / ("skin" + std::to_string(id) + ".png");
      WriteWholeFile(file, image->second.begin()->second.bytes);
      return file;
    }
  }
  throw InputError("patcher stub " + stub.path.string() + " carries no skin image " + std::to_string(id));
}

CxImage LoadImage(const std::filesystem::path& project_file, const std::filesystem::path& out,
                  const std::filesystem::path& stubs, SkinImage which) {
  const std::filesystem::path file =
      project_file.empty() ? OwnSkin(out, stubs, static_cast<int>(which)) : project_file;
  return LoadSkinPng(file, which);
}

// An RGBA PNG of a bottom-up premultiplied BGRA frame.
void WritePng(const std::filesystem::path& path, int width, int height, const uint8_t* frame) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = frame + static_cast<size_t>(height - 1 - y) * width * 4;
    uint8_t* out = rgba.data() + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x, in += 4, out += 4) {
      const int a = in[3];
      for (int c = 0; c < 3; ++c) {
        // Undo the premultiplication where it can be undone; exact where a is 255.
        const int v = in[2 - c];
        out[c] = static_cast<uint8_t>(a == 0 ? 0 : a == 255 ? v : std::min(255, (v * 256 + a / 2) / a));
      }
      out[3] = static_cast<uint8_t>(a);
    }
  }
  FILE* file = std::fopen(path.string().c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path.string());
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw std::runtime_error("cannot write " + path.string());
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, rgba.data() + static_cast<size_t>(y) * width * 4);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

const std::vector<PreviewFrame>& PreviewFrames() {
  static const std::vector<PreviewFrame> frames = {
      {"splash.png", true, 0, 0},
      {"window-start.png", false, 0, 0},
      {"window-half.png", false, 0.5f, 0.5f},
      {"window-done.png", false, 1, 1},
  };
  return frames;
}

std::vector<std::filesystem::path> WritePreview(const Project& project,
                                                const std::filesystem::path& out,
                                                const std::filesystem::path& stubs) {
  std::filesystem::create_directories(out);
  const SkinOverrides& skin = project.skin;
  const CxImage splash = LoadImage(skin.splash, out, stubs, SkinImage::kSplash);
  const CxImage background = LoadImage(skin.background, out, stubs, SkinImage::kBackground);
  const CxImage item_bar = LoadImage(skin.item_bar, out, stubs, SkinImage::kItemBar);
  const CxImage total_bar = LoadImage(skin.total_bar, out, stubs, SkinImage::kTotalBar);
  std::filesystem::remove_all(out / ".skins");

  std::vector<std::filesystem::path> written;
  for (const PreviewFrame& frame : PreviewFrames()) {
    const CxImage& shape = frame.splash ? splash : background;
    std::vector<uint8_t> bits(static_cast<size_t>(shape.width) * shape.height * 4, 0);
    if (frame.splash) {
      ComposeImageFrame(splash, bits.data());
    } else {
      ComposeProgressFrame(background, item_bar, total_bar, frame.item_progress,
                           frame.total_progress, bits.data());
    }
    written.push_back(out / frame.file);
    WritePng(written.back(), shape.width, shape.height, bits.data());
  }
  return written;
}

}  // namespace vard::mkpatch
