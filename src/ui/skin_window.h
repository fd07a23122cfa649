// What the splash and the progress window have in common: borderless, always-on-top,
// per-pixel-alpha windows that can be dragged by any point, centred on the screen, and
// drawn one frame at a time into a 32-bit buffer handed to UpdateLayeredWindow.
#pragma once

#include <windows.h>

#include "ui/cx_image.h"
#include "ui/gdi_objects.h"

namespace vard {

// Answers WM_NCHITTEST with HTCAPTION, so a press anywhere drags the window; everything
// else goes to DefWindowProcA.
LRESULT CALLBACK SkinWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Dispatches the queued messages of this window (only this one) and returns.
void PumpWindowMessages(HWND window);

// Registers a skin window class of that name (icon 101, no cursor, light grey brush) and
// creates its layered window, titled "Patch", of width x height centred in the screen's
// full-screen work area. Throws "Cannot create GUI" when either fails; a class that is
// already registered by this process counts as registered.
HWND CreateSkinWindow(const char* class_name, int width, int height, void* creation_parameter);

// The frame buffer of a layered window: a zeroed 32-bit bottom-up DIB section of the
// skin's size selected into a memory context compatible with the screen. Draw into dc(),
// then Present() sets every pixel's alpha byte from the skin's alpha plane and pushes the
// frame at the window's current screen position with the given overall opacity. A window
// keeps one for its life: a fade step whose pixels did not change presents the same
// buffer again with the new opacity, instead of making, zeroing and filling a new DIB
// for every one of its hundreds of steps.
class LayeredFrame {
 public:
  LayeredFrame(int width, int height);
  LayeredFrame(const LayeredFrame&) = delete;
  LayeredFrame& operator=(const LayeredFrame&) = delete;

  HDC dc() const { return memory_.get(); }
  // The frame's pixels (null when the DIB could not be made); call GdiFlush before
  // writing them after drawing through dc().
  uint8_t* bits() const { return dib_.bits; }
  void Present(HWND window, const CxImage& alpha_source, int opacity);

 private:
  ScreenDc screen_;
  MemoryDc memory_;
  DibSection dib_;
  int width_;
  int height_;
  // Declared last: deselects the DIB before the context and the DIB are deleted.
  SelectGuard selection_;
};

}  // namespace vard
