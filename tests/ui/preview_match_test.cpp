// The demo patcher's art on a real (Wine) screen against `mkpatch preview` of the demo
// project: the splash at full opacity and the progress window at the start, half-way and
// done must show exactly the preview's pixels wherever the preview is fully opaque. The
// texts are drawn by the system's Courier font and are not in the preview: inside the text
// areas a pixel may also be the texts' white. The preview folder is VARD_PREVIEW_DIR.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/ui_lock.h"
#include "model/ui_state.h"
#include "ui/cx_image.h"
#include "ui/progress_window.h"
#include "ui/screen_shot.h"
#include "ui/skin_layout.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

using test::Rgb;
using test::ScreenShot;

CxImage LoadPreview(const char* name) {
  const std::string path = std::string(VARD_PREVIEW_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  CxImage image;
  EXPECT_TRUE(DecodePng(image, bytes.data(), bytes.size())) << path;
  return image;
}

struct Comparison {
  int opaque = 0;      // preview pixels compared
  int wrong = 0;       // differing outside the texts' white
  int text = 0;        // the texts' white inside a text area
};

// Compares the screen at origin with every fully opaque pixel of the preview.
Comparison Compare(const ScreenShot& shot, POINT origin, const CxImage& preview,
                   const std::vector<TextArea>& text_areas) {
  Comparison result;
  for (int y = 0; y < preview.height; ++y) {
    for (int x = 0; x < preview.width; ++x) {
      if (preview.alpha[preview.AlphaOffset(x, y)] != 255) continue;
      ++result.opaque;
      const uint8_t* p = &preview.pixels[preview.PixelOffset(x, y)];
      const Rgb want{p[2], p[1], p[0]};
      const Rgb seen = shot.At(origin.x + x, origin.y + y);
      if (seen == want) continue;
      bool in_text = false;
      for (const TextArea& area : text_areas) in_text = in_text || area.rect.Contains(x, y);
      if (in_text && seen == Rgb{255, 255, 255}) {
        ++result.text;
      } else {
        ++result.wrong;
      }
    }
  }
  return result;
}

POINT Origin(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return POINT{r.left, r.top};
}

int FramesDrawn() {
  UiLockGuard lock;
  ProgressWindow* window = CurrentProgressWindow();
  return window ? window->frames_drawn : -1;
}

// Shows the splash, then sets the flag it is given.
unsigned __stdcall SplashThread(void* done) {
  ShowSplash();
  *static_cast<std::atomic<bool>*>(done) = true;
  return 0;
}

TEST(DemoPreview, SplashMatchesOnScreen) {
  const CxImage preview = LoadPreview("splash.png");
  ASSERT_FALSE(preview.Empty());
  std::atomic<bool> done{false};
  const HANDLE thread =
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SplashThread, &done, 0, nullptr));
  HWND window = nullptr;
  for (int i = 0; i < 200 && !window; ++i, Sleep(10)) window = FindWindowA("VardSplashClass", "Patch");
  ASSERT_NE(window, nullptr);
  // Screenshots until the fade-in has ended and the whole splash shows.
  Comparison seen;
  for (int i = 0; i < 600 && !done; ++i, Sleep(50)) {
    seen = Compare(ScreenShot::Take(), Origin(window), preview, {});
    if (seen.wrong == 0) break;
  }
  EXPECT_FALSE(done) << "the splash ended before it was seen fully opaque";
  EXPECT_GT(seen.opaque, 40000);
  EXPECT_EQ(seen.wrong, 0);
  WaitForSingleObject(thread, 60000);
  CloseHandle(thread);
}

TEST(DemoPreview, ProgressWindowMatchesAtStartHalfWayAndDone) {
  SetTitleText(L"PATCH V1.00 - V1.01");
  SetStatusText(L"Installing..");
  SetDetailText(L"data\\levels\\forest.lvl");
  SetItemProgress(0);
  SetTotalProgress(0);
  StartUi();
  HWND window = CurrentProgressWindowHandle();
  ASSERT_NE(window, nullptr);
  const char* files[] = {"window-start.png", "window-half.png", "window-done.png"};
  const float progress[] = {0.0f, 0.5f, 1.0f};
  for (int i = 0; i < 3; ++i) {
    const CxImage preview = LoadPreview(files[i]);
    ASSERT_FALSE(preview.Empty());
    if (i > 0) {
      const int frames = FramesDrawn();
      EnterUiLock();
      SetItemProgress(progress[i]);
      SetTotalProgress(progress[i]);
      LeaveUiLock();
      for (int wait = 0; wait < 500 && FramesDrawn() <= frames; ++wait) Sleep(10);
    }
    Sleep(150);  // for the X server to show the frame
    const ScreenShot shot = ScreenShot::Take();
    shot.SavePng(std::string(VARD_PREVIEW_DIR) + "/screen-" + files[i]);
    const Comparison seen =
        Compare(shot, Origin(window), preview, ProgressTextAreas(preview.width));
    EXPECT_GT(seen.opaque, 100000) << files[i];
    EXPECT_EQ(seen.wrong, 0) << files[i];
    EXPECT_GT(seen.text, 50) << files[i] << ": no text seen in the text areas";
  }
  StopUi();
}

}  // namespace
}  // namespace vard
