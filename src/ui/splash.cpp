// The splash: skin image 102 in a layered window centred on the screen, faded in, held
// for five seconds and faded out on the main thread before anything else happens. The
// window is hidden afterwards and kept for the life of the process.
#include <windows.h>

#include <memory>

#include "ui/cx_image.h"
#include "ui/skin_image.h"
#include "ui/skin_layout.h"
#include "ui/skin_window.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

struct Splash {
  CxImage image;
  int alpha = 0;
  HWND window = nullptr;
  // The composed image, kept while the splash fades: only the opacity changes per step.
  std::unique_ptr<LayeredFrame> frame;
};

Splash& TheSplash() {
  static Splash splash;
  return splash;
}

void DrawSplash() {
  Splash& splash = TheSplash();
  splash.frame->Present(splash.window, splash.image, splash.alpha);
}

}  // namespace

void ShowSplash() {
  Splash& splash = TheSplash();
  LoadSkinImage(splash.image, 102);
  splash.alpha = 0;
  splash.window = CreateSkinWindow("VardSplashClass", splash.image.width, splash.image.height,
                                   nullptr);
  splash.frame = std::make_unique<LayeredFrame>(splash.image.width, splash.image.height);
  ComposeImageFrame(splash.image, splash.frame->bits());
  DrawSplash();
  ShowWindow(splash.window, SW_SHOW);
  while (splash.alpha != 255) {
    PumpWindowMessages(splash.window);
    Sleep(4);
    ++splash.alpha;
    DrawSplash();
  }
  for (int pause = 0; pause < 500; ++pause) {
    PumpWindowMessages(splash.window);
    Sleep(10);
  }
  while (splash.alpha != 0) {
    PumpWindowMessages(splash.window);
    Sleep(2);
    --splash.alpha;
    DrawSplash();
  }
  ShowWindow(splash.window, SW_HIDE);
  PumpWindowMessages(splash.window);
  splash.frame.reset();
}

}  // namespace vard
