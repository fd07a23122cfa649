#include "ui/skin_window.h"

#include <stdexcept>

#include "ui/raster_ops.h"

namespace vard {

LRESULT CALLBACK SkinWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCHITTEST) return HTCAPTION;
  return DefWindowProcA(window, message, wparam, lparam);
}

void PumpWindowMessages(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

HWND CreateSkinWindow(const char* class_name, int width, int height, void* creation_parameter) {
  HINSTANCE module = GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_BYTEALIGNCLIENT | CS_BYTEALIGNWINDOW;
  window_class.lpfnWndProc = SkinWindowProc;
  window_class.hInstance = module;
  window_class.hIcon = LoadIconA(module, MAKEINTRESOURCEA(101));
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  window_class.lpszClassName = class_name;
  // A class stays registered when its window's thread ends; a second registration by the
  // same process is harmless.
  if (!RegisterClassExA(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("Cannot create GUI");
  }
  const int x = (GetSystemMetrics(SM_CXFULLSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYFULLSCREEN) - height) / 2;
  HWND window = CreateWindowExA(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, class_name,
                                "Patch", WS_POPUP, x, y, width, height, nullptr, nullptr, module,
                                creation_parameter);
  if (window == nullptr) throw std::runtime_error("Cannot create GUI");
  return window;
}

LayeredFrame::LayeredFrame(int width, int height)
    : memory_(CreateCompatibleDC(screen_.get())),
      dib_(CreateDib(memory_.get(), width, height, 32)),
      width_(width),
      height_(height),
      selection_(memory_.get(), dib_.bitmap.get()) {}

void LayeredFrame::Present(HWND window, const CxImage& alpha_source, int opacity) {
  if (!dib_.bits) return;
  GdiFlush();
  if (alpha_source.width == width_ && alpha_source.height == height_) {
    SetFrameAlpha(dib_.bits, alpha_source);
  }
  RECT placed{};
  GetWindowRect(window, &placed);
  POINT destination{placed.left, placed.top};
  SIZE size{width_, height_};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(opacity), AC_SRC_ALPHA};
  UpdateLayeredWindow(window, screen_.get(), &destination, &size, memory_.get(), &source, 0,
                      &blend, ULW_ALPHA);
}

}  // namespace vard
