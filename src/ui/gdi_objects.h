// Move-only owners of the GDI objects the skinned windows use, and a scoped selection of
// an object into a device context: each is released once, on every path.
#pragma once

#include <windows.h>

#include "os/win_handle.h"

namespace vard {

struct GdiObjectTraits {
  using Native = HGDIOBJ;
  static Native Invalid() noexcept { return nullptr; }
  static void Close(Native h) noexcept { DeleteObject(h); }
};
struct MemoryDcTraits {
  using Native = HDC;
  static Native Invalid() noexcept { return nullptr; }
  static void Close(Native h) noexcept { DeleteDC(h); }
};

using GdiObject = UniqueHandle<GdiObjectTraits>;
using MemoryDc = UniqueHandle<MemoryDcTraits>;

// The screen's device context, released when the owner goes.
class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Selects an object into a device context for the owner's lifetime.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  ~SelectGuard() {
    if (previous_) SelectObject(dc_, previous_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A bottom-up DIB section of the given depth, all bytes 0 at creation.
struct DibSection {
  GdiObject bitmap;
  uint8_t* bits = nullptr;
  int stride = 0;
};
DibSection CreateDib(HDC dc, int width, int height, int bits_per_pixel);

}  // namespace vard
