#include "screen.h"

#include <cstdlib>
#include <fstream>

namespace vardplay {
namespace {

// A 32-bit top-down DIB section selected into a memory DC, released by its destructor.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (dc_ && bitmap_) old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    if (old_) SelectObject(dc_, old_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return old_ != nullptr && bits_ != nullptr; }
  HDC dc() const { return dc_; }
  Pixels Read() const {
    GdiFlush();
    Pixels p;
    p.width = width_;
    p.height = height_;
    const auto* src = static_cast<const std::uint32_t*>(bits_);
    p.bgrx.assign(src, src + static_cast<size_t>(width_) * height_);
    for (auto& px : p.bgrx) px &= 0xFFFFFF;
    return p;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

double MeanDifference(const Pixels& a, const Pixels& b) {
  if (a.width != b.width || a.height != b.height || a.bgrx.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.bgrx.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8)
      sum += std::abs(static_cast<int>((a.bgrx[i] >> shift) & 0xFF) -
                      static_cast<int>((b.bgrx[i] >> shift) & 0xFF));
  return sum / (3.0 * a.bgrx.size());
}

}  // namespace

Pixels CaptureScreen(const RECT& area) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return {};
  Canvas canvas(width, height);
  HDC screen = GetDC(nullptr);
  const bool copied = canvas.ok() && screen &&
                      BitBlt(canvas.dc(), 0, 0, width, height, screen, area.left, area.top,
                             SRCCOPY | CAPTUREBLT);
  if (screen) ReleaseDC(nullptr, screen);
  return copied ? canvas.Read() : Pixels{};
}

bool WriteBmp(const Pixels& pixels, const std::wstring& path) {
  if (pixels.bgrx.empty()) return false;
  const int stride = (pixels.width * 3 + 3) & ~3;
  const DWORD image = static_cast<DWORD>(stride) * pixels.height;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + image;
  info.biSize = sizeof info;
  info.biWidth = pixels.width;
  info.biHeight = pixels.height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = image;
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  std::string row(static_cast<size_t>(stride), '\0');
  for (int y = pixels.height - 1; y >= 0; --y) {
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t px = pixels.bgrx[static_cast<size_t>(y) * pixels.width + x];
      row[x * 3] = static_cast<char>(px & 0xFF);
      row[x * 3 + 1] = static_cast<char>((px >> 8) & 0xFF);
      row[x * 3 + 2] = static_cast<char>((px >> 16) & 0xFF);
    }
    out.write(row.data(), stride);
  }
  return static_cast<bool>(out);
}

std::string IdentifyIcon(const Pixels& shown, double& mean_difference) {
  mean_difference = 1e9;
  if (shown.bgrx.empty()) return "";
  struct Candidate {
    const char* name;
    LPCWSTR id;
  };
  static const Candidate kCandidates[] = {{"error", IDI_HAND},
                                          {"information", IDI_ASTERISK},
                                          {"warning", IDI_EXCLAMATION},
                                          {"question", IDI_QUESTION}};
  // Icons have transparent corners: draw each candidate over the colour the control shows
  // in its top-left corner, at the control's size and place (icons sit at its origin).
  const std::uint32_t background = shown.bgrx[0];
  const COLORREF fill = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF,
                            background & 0xFF);
  std::string best;
  for (const Candidate& c : kCandidates) {
    Canvas canvas(shown.width, shown.height);
    if (!canvas.ok()) return "";
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all{0, 0, shown.width, shown.height};
    FillRect(canvas.dc(), &all, brush);
    DeleteObject(brush);
    HICON icon = LoadIconW(nullptr, c.id);
    DrawIconEx(canvas.dc(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    const double d = MeanDifference(shown, canvas.Read());
    if (d < mean_difference) {
      mean_difference = d;
      best = c.name;
    }
  }
  return best;
}

}  // namespace vardplay
