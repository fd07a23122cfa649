// Screenshots for the window tests: the whole screen read through the screen's device
// context into a top-down RGB raster, pixel access, and saving as PNG for a person to look at.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vard::test {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

class ScreenShot {
 public:
  // Captures the whole screen now.
  static ScreenShot Take();

  int width() const { return width_; }
  int height() const { return height_; }
  Rgb At(int x, int y) const {
    const uint8_t* p = &bgrx_[(static_cast<size_t>(y) * width_ + x) * 4];
    return Rgb{p[2], p[1], p[0]};
  }
  // Writes the screenshot as an RGB PNG; a path in Windows form.
  bool SavePng(const std::string& path) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> bgrx_;  // top-down rows of blue, green, red, unused
};

}  // namespace vard::test
