// The skinned windows on a real (Wine) screen: skin resources, text and compositing on
// real device contexts, then the splash and a whole progress-window life read back from
// screenshots. A green backdrop window lies under everything, so transparent pixels show.
// Screenshots of each stage are saved under VARD_SCREENSHOT_DIR for a person to look at.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "model/ui_lock.h"
#include "model/ui_state.h"
#include "ui/gdi_objects.h"
#include "ui/progress_window.h"
#include "ui/screen_shot.h"
#include "ui/skin_image.h"
#include "ui/text.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

using test::Rgb;
using test::ScreenShot;

constexpr Rgb kBackdrop{0, 200, 0};

std::string ShotPath(const char* name) {
  CreateDirectoryA(VARD_SCREENSHOT_DIR, nullptr);
  return std::string(VARD_SCREENSHOT_DIR) + "/" + name;
}

// Runs fn on a thread of its own; Join waits for it.
class Thread {
 public:
  explicit Thread(std::function<void()> fn) : fn_(std::move(fn)) {
    handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Main, this, 0, nullptr));
  }
  ~Thread() { Join(); }
  bool Join(DWORD timeout = INFINITE) {
    if (!handle_) return true;
    if (WaitForSingleObject(handle_, timeout) != WAIT_OBJECT_0) return false;
    CloseHandle(handle_);
    handle_ = nullptr;
    return true;
  }

 private:
  static unsigned __stdcall Main(void* self) {
    static_cast<Thread*>(self)->fn_();
    return 0;
  }
  std::function<void()> fn_;
  HANDLE handle_ = nullptr;
};

// A plain green window over the whole screen, below the topmost skin windows.
class Backdrop : public ::testing::Environment {
 public:
  void SetUp() override {
    thread_ = new Thread([] {
      WNDCLASSA c{};
      c.lpfnWndProc = DefWindowProcA;
      c.hInstance = GetModuleHandleA(nullptr);
      c.hbrBackground = CreateSolidBrush(RGB(kBackdrop.r, kBackdrop.g, kBackdrop.b));
      c.lpszClassName = "VardTestBackdrop";
      RegisterClassA(&c);
      CreateWindowExA(0, c.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0,
                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                      nullptr, c.hInstance, nullptr);
      MSG m;
      while (GetMessageA(&m, nullptr, 0, 0)) DispatchMessageA(&m);
    });
    Sleep(300);
  }

 private:
  Thread* thread_ = nullptr;  // runs until the process ends
};

Rgb PixelOf(const CxImage& image, int x, int row) {
  const uint8_t* p = &image.pixels[image.PixelOffset(x, row)];
  return Rgb{p[2], p[1], p[0]};
}

uint8_t AlphaOf(const CxImage& image, int x, int row) {
  return image.alpha[image.AlphaOffset(x, row)];
}

// A canvas like the progress window's with the texts of one snapshot rendered in.
CxImage ExpectedCanvas(const CxImage& background, const UiSnapshot& s) {
  using L = ProgressLayout;
  CxImage canvas;
  CopyImage(canvas, background);
  ScreenDc screen;
  const COLORREF white = RGB(255, 255, 255);
  RenderText(canvas, screen.get(), 259, L::kTitleY, s.title, white, 8, 400, 1);
  RenderText(canvas, screen.get(), L::kDetailX, L::kDetailY, s.detail, white, 8, 400, 0);
  RenderText(canvas, screen.get(), L::kStatusX, L::kStatusY, s.status, white, 8, 400, 0);
  wchar_t percentage[64];
  FormatPercentage(s.total_progress, percentage);
  RenderText(canvas, screen.get(), L::kPercentX, L::kPercentY, percentage, white, 20, 600, 2);
  return canvas;
}

// Pixels of the rectangle (window coordinates) where the screen differs from the canvas
// by more than tolerance in a channel.
int Differences(const ScreenShot& shot, POINT origin, const CxImage& canvas, RECT area,
                int tolerance = 0) {
  int differences = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      const Rgb seen = shot.At(origin.x + x, origin.y + y);
      const Rgb wanted = PixelOf(canvas, x, y);
      differences += std::abs(seen.r - wanted.r) > tolerance ||
                     std::abs(seen.g - wanted.g) > tolerance ||
                     std::abs(seen.b - wanted.b) > tolerance;
    }
  return differences;
}

// Columns of a bar (window coordinates left, top) that show the bar image's colours.
int BarColumnsShown(const ScreenShot& shot, POINT origin, int left, int top, const CxImage& bar) {
  int shown = 0;
  for (int i = 0; i < bar.width; ++i) {
    bool all = true;
    for (int row = 2; row < bar.height - 2; ++row)
      all = all && shot.At(origin.x + left + i, origin.y + top + row) == PixelOf(bar, i, row);
    shown += all;
  }
  return shown;
}

POINT WindowOrigin(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return POINT{r.left, r.top};
}

int FramesDrawn() {
  UiLockGuard lock;
  ProgressWindow* window = CurrentProgressWindow();
  return window ? window->frames_drawn : -1;
}

// Waits until the UI thread has drawn a frame beyond the count given (it polls every
// 20 ms; frames are slow under Wine), then a little for the X server to show it.
void WaitForFrameAfter(int frames) {
  for (int i = 0; i < 500 && FramesDrawn() <= frames; ++i) Sleep(10);
  Sleep(100);
}

TEST(SkinImages, LoadFromResourcesOrFailWithTheirMessages) {
  CxImage image;
  LoadSkinImage(image, 103);
  EXPECT_EQ(image.width, 519);
  EXPECT_EQ(image.height, 316);
  EXPECT_TRUE(image.HasAlpha());
  LoadSkinImage(image, 105);
  EXPECT_FALSE(image.HasAlpha());
  auto message_of = [](int id) {
    CxImage unused;
    try {
      LoadSkinImage(unused, id);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message_of(150), "Cannot load internal resource");
  EXPECT_EQ(message_of(199), "Cannot create GUI");  // present, but not a PNG
}

TEST(DrawImage, BlendsOverTheDcAndHonoursAndRestoresTheClip) {
  ScreenDc screen;
  MemoryDc memory(CreateCompatibleDC(screen.get()));
  DibSection dib = CreateDib(memory.get(), 519, 316, 32);
  ASSERT_TRUE(dib.bits);
  SelectGuard selection(memory.get(), dib.bitmap.get());
  auto at = [&](int x, int y) {
    GdiFlush();
    const uint8_t* p = dib.bits + static_cast<size_t>(315 - y) * dib.stride + 4 * x;
    return Rgb{p[2], p[1], p[0]};
  };

  CxImage dot;
  ASSERT_TRUE(dot.Create(2, 1));
  dot.alpha = {128, 0};
  const uint8_t colours[6] = {50, 100, 200, 255, 255, 255};
  std::memcpy(dot.pixels.data(), colours, 6);
  DrawImage(dot, memory.get(), 3, 4);
  EXPECT_EQ(at(3, 4), (Rgb{100, 50, 25}));
  EXPECT_EQ(at(4, 4), (Rgb{0, 0, 0}));  // transparent white stays black

  CxImage bar;
  LoadSkinImage(bar, 104);
  for (float progress : {0.5f, 0.0f, 1.0f}) {
    SCOPED_TRACE(progress);
    std::memset(dib.bits, 0, static_cast<size_t>(dib.stride) * 316);
    const RECT clip{28, 196, BarClipRight(28, bar.width, progress), 196 + bar.height};
    DrawImage(bar, memory.get(), 28, 196, &clip);
    int painted = 0;
    for (int x = 0; x < 519; ++x) painted += !(at(x, 204) == Rgb{0, 0, 0});
    EXPECT_EQ(painted, static_cast<int>(463 * progress));
    if (progress == 0.5f) {
      EXPECT_EQ(at(258, 204), PixelOf(bar, 230, 8));
      EXPECT_EQ(at(259, 204), (Rgb{0, 0, 0}));
    }
  }
  // The clip was widened again: an unclipped draw reaches every corner.
  CxImage full;
  ASSERT_TRUE(full.Create(519, 316));
  full.alpha.assign(519 * 316, 255);
  std::memset(full.pixels.data(), 9, full.pixels.size());
  DrawImage(full, memory.get(), 0, 0);
  EXPECT_EQ(at(0, 0), (Rgb{9, 9, 9}));
  EXPECT_EQ(at(518, 315), (Rgb{9, 9, 9}));
}

// Painted (white) pixels of an image that started black.
struct Painted {
  int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1, count = 0, other = 0;
};
Painted FindPainted(const CxImage& image) {
  Painted p;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const Rgb c = PixelOf(image, x, y);
      if (c == Rgb{0, 0, 0}) continue;
      if (!(c == Rgb{255, 255, 255})) ++p.other;
      ++p.count;
      p.left = std::min(p.left, x);
      p.right = std::max(p.right, x);
      p.top = std::min(p.top, y);
      p.bottom = std::max(p.bottom, y);
    }
  return p;
}

SIZE MeasureCourier(const std::wstring& text, int height, int weight) {
  ScreenDc screen;
  MemoryDc memory(CreateCompatibleDC(screen.get()));
  LOGFONTA face{};
  face.lfHeight = height;
  face.lfWeight = weight;
  face.lfQuality = CLEARTYPE_QUALITY;
  lstrcpyA(face.lfFaceName, "Courier");
  GdiObject font(CreateFontIndirectA(&face));
  SelectGuard selection(memory.get(), font.get());
  RECT r{0, 0, 0, 0};
  DrawTextW(memory.get(), text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT);
  return SIZE{r.right, r.bottom};
}

TEST(RenderText, PlacesFullColourCourierByAlignmentAndClipsAtTheTop) {
  ScreenDc screen;
  const std::wstring title = L"PATCH V1.00 - V1.01";
  const SIZE measured = MeasureCourier(title, 8, 400);
  ASSERT_GT(measured.cx, 0);
  const int box_width = measured.cx + measured.cy;
  CxImage canvas;
  ASSERT_TRUE(canvas.Create(519, 316));
  canvas.alpha.assign(519 * 316, 200);
  RenderText(canvas, screen.get(), 259, 125, title, RGB(255, 255, 255), 8, 400, 1);
  Painted p = FindPainted(canvas);
  ASSERT_GT(p.count, 0);
  EXPECT_EQ(p.other, 0);  // no blended glyph edges
  EXPECT_GE(p.left, 259 - box_width / 2);
  EXPECT_LT(p.right, 259 - box_width / 2 + measured.cx);
  EXPECT_LE(p.bottom, 125);
  EXPECT_GT(p.top, 125 - measured.cy);
  EXPECT_EQ(canvas.alpha[0], 200);

  const SIZE percent = MeasureCourier(L"99%", 20, 600);
  ASSERT_TRUE(canvas.Create(519, 316));
  RenderText(canvas, screen.get(), 500, 265, L"99%", RGB(255, 255, 255), 20, 600, 2);
  p = FindPainted(canvas);
  ASSERT_GT(p.count, 0);
  EXPECT_GE(p.left, 500 - (percent.cx + percent.cy));
  EXPECT_LT(p.right, 500 - percent.cy);

  // Bottom line on row 2: the same glyphs as a whole rendering, minus the rows above 0.
  const int h = measured.cy;
  CxImage whole, clipped;
  ASSERT_TRUE(whole.Create(200, 40));
  ASSERT_TRUE(clipped.Create(200, 40));
  RenderText(whole, screen.get(), 0, h - 1, title, RGB(255, 255, 255), 8, 400, 0);
  RenderText(clipped, screen.get(), 0, 2, title, RGB(255, 255, 255), 8, 400, 0);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      const Rgb expected = y <= 2 ? PixelOf(whole, x, y + h - 3) : Rgb{0, 0, 0};
      ASSERT_EQ(PixelOf(clipped, x, y), expected) << x << "," << y;
    }
}

TEST(ProgressWindowText, PercentageTruncatesAndBarsClipInProportion) {
  wchar_t text[64];
  FormatPercentage(0.999f, text);
  EXPECT_STREQ(text, L"99%");
  FormatPercentage(1.0f, text);
  EXPECT_STREQ(text, L"100%");
  FormatPercentage(0.0f, text);
  EXPECT_STREQ(text, L"0%");
  EXPECT_EQ(BarClipRight(28, 463, 0.5f), 259);
  EXPECT_EQ(BarClipRight(28, 463, 0.0f), 28);
  EXPECT_EQ(BarClipRight(28, 463, 1.0f), 491);
}

TEST(Splash, FadesInCentredShowsOnlyItsOpaquePixelsAndIsHiddenAfterwards) {
  CxImage image;
  LoadSkinImage(image, 102);
  std::atomic<bool> done{false};
  std::atomic<bool> kept{false}, visible{true};
  Thread splash([&] {
    ShowSplash();
    done = true;
    // Checked on this thread: its windows go when it ends (the run's main thread stays).
    HWND hidden = FindWindowA("VardSplashClass", "Patch");
    kept = IsWindow(hidden);
    visible = IsWindowVisible(hidden);
  });
  HWND window = nullptr;
  for (int i = 0; i < 200 && !window; ++i, Sleep(10)) window = FindWindowA("VardSplashClass", "Patch");
  ASSERT_NE(window, nullptr);
  // Screenshots until the end of the fade-in (255 frames; slow under Wine): then every
  // fully opaque image pixel shows its exact colour and every transparent one the backdrop.
  const POINT origin = WindowOrigin(window);
  ScreenShot shot;
  int transparent_wrong = 0, opaque_wrong = 0, transparent = 0, opaque = 0;
  for (int i = 0; i < 600 && !done; ++i, Sleep(50)) {
    shot = ScreenShot::Take();
    transparent_wrong = opaque_wrong = transparent = opaque = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        const Rgb seen = shot.At(origin.x + x, origin.y + y);
        if (AlphaOf(image, x, y) == 0) {
          ++transparent;
          transparent_wrong += !(seen == kBackdrop);
        } else if (AlphaOf(image, x, y) == 255) {
          ++opaque;
          opaque_wrong += !(seen == PixelOf(image, x, y));
        }
      }
    if (opaque_wrong == 0) break;
  }
  ASSERT_FALSE(done) << "the splash ended before it was seen fully opaque";
  shot.SavePng(ShotPath("01_splash.png"));
  EXPECT_EQ(origin.x, (GetSystemMetrics(SM_CXFULLSCREEN) - 519) / 2);
  EXPECT_EQ(origin.y, (GetSystemMetrics(SM_CYFULLSCREEN) - 126) / 2);
  EXPECT_GT(transparent, 300);
  EXPECT_GT(opaque, 50000);
  EXPECT_EQ(transparent_wrong, 0);
  EXPECT_EQ(opaque_wrong, 0);

  ASSERT_TRUE(splash.Join(60000));
  EXPECT_TRUE(kept);
  EXPECT_FALSE(visible);
  // Once the splash is hidden, the X server asks the backdrop's thread to repaint what it
  // uncovers, and that thread's painting reaches the screen when it next waits for
  // messages: on a loaded machine well after the splash has returned. Screenshots until
  // the backdrop shows (at most 10 s).
  Rgb seen{};
  for (int i = 0; i < 200; ++i, Sleep(50)) {
    seen = ScreenShot::Take().At(origin.x + 259, origin.y + 63);
    if (seen == kBackdrop) break;
  }
  EXPECT_EQ(seen, kBackdrop);
}

TEST(ProgressWindow, WholeLifeOnScreen) {
  CxImage background, item_bar, total_bar;
  LoadSkinImage(background, 103);
  LoadSkinImage(item_bar, 104);
  LoadSkinImage(total_bar, 105);
  UiSnapshot state;
  state.title = L"PATCH V1.00 - V1.01";
  state.status = L"Initializing..";
  SetTitleText(state.title);
  SetStatusText(state.status);
  SetDetailText(L"");
  SetItemProgress(0);
  SetTotalProgress(0);

  StartUi();  // returns once faded in
  HWND window = CurrentProgressWindowHandle();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));
  POINT origin = WindowOrigin(window);
  EXPECT_EQ(origin.x, (GetSystemMetrics(SM_CXFULLSCREEN) - 519) / 2);
  EXPECT_EQ(origin.y, (GetSystemMetrics(SM_CYFULLSCREEN) - 316) / 2);
  ScreenShot shot = ScreenShot::Take();
  shot.SavePng(ShotPath("02_initializing.png"));
  // Set before the start, shown from the first frame.
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), RECT{28, 100, 491, 195}), 0);
  EXPECT_EQ(BarColumnsShown(shot, origin, 28, 196, item_bar), 0);
  EXPECT_EQ(shot.At(origin.x + 2, origin.y + 2), kBackdrop);  // a transparent corner

  // Item 0.5 shows 231 columns of the item bar; 0.999 shows "99%".
  // Each change is made under the UI lock, so it reaches the screen as one frame.
  EnterUiLock();
  int frames = FramesDrawn();
  state.status = L"Installing:";
  state.detail = L"data\\maps\\level01.pak";
  state.item_progress = 0.5f;
  state.total_progress = 0.999f;
  SetStatusText(state.status);
  SetDetailText(state.detail);
  SetItemProgress(state.item_progress);
  SetTotalProgress(state.total_progress);
  LeaveUiLock();
  WaitForFrameAfter(frames);
  shot = ScreenShot::Take();
  shot.SavePng(ShotPath("03_installing.png"));
  EXPECT_EQ(BarColumnsShown(shot, origin, 28, 196, item_bar), 231);
  EXPECT_EQ(shot.At(origin.x + 28 + 230, origin.y + 204), PixelOf(item_bar, 230, 8));
  EXPECT_EQ(shot.At(origin.x + 28 + 231, origin.y + 204), PixelOf(background, 28 + 231, 204));
  EXPECT_EQ(BarColumnsShown(shot, origin, 28, 221, total_bar), 462);
  const RECT percent_area{392, 243, 500, 270};
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), percent_area), 0);
  UiSnapshot hundred = state;
  hundred.total_progress = 1.0f;
  EXPECT_GT(Differences(shot, origin, ExpectedCanvas(background, hundred), percent_area), 0);
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), RECT{28, 100, 491, 195}), 0);

  // Two changes between frames make one frame, showing the second.
  EnterUiLock();  // keeps the UI thread from taking a snapshot in between
  const int frames_before = FramesDrawn();
  SetStatusText(L"Intermediate");
  SetStatusText(L"Installing:");
  SetDetailText(L"data\\first.pak");
  SetDetailText(L"data\\second.pak");
  state.detail = L"data\\second.pak";
  LeaveUiLock();
  WaitForFrameAfter(frames_before);
  Sleep(200);
  EXPECT_EQ(FramesDrawn(), frames_before + 1);
  shot = ScreenShot::Take();
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), RECT{28, 160, 491, 195}), 0);

  // Moved by the player: the next frame is drawn at the new place.
  SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  state.item_progress = 0.25f;
  EnterUiLock();
  frames = FramesDrawn();
  SetItemProgress(state.item_progress);
  LeaveUiLock();
  WaitForFrameAfter(frames);
  origin = WindowOrigin(window);
  EXPECT_EQ(origin.x, 40);
  EXPECT_EQ(origin.y, 30);
  shot = ScreenShot::Take();
  shot.SavePng(ShotPath("04_moved.png"));
  EXPECT_EQ(BarColumnsShown(shot, origin, 28, 196, item_bar), 115);
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), RECT{28, 100, 491, 195}), 0);
  EXPECT_EQ(shot.At(700, 500), kBackdrop);  // inside the old place only

  // Success, 100 %, and the final box owned by the window.
  EnterUiLock();
  frames = FramesDrawn();
  state.status = L"Success!";
  state.detail = L"";
  state.total_progress = 1.0f;
  SetStatusText(state.status);
  SetDetailText(state.detail);
  SetTotalProgress(state.total_progress);
  LeaveUiLock();
  WaitForFrameAfter(frames);
  shot = ScreenShot::Take();
  shot.SavePng(ShotPath("05_success.png"));
  EXPECT_EQ(Differences(shot, origin, ExpectedCanvas(background, state), percent_area), 0);
  EXPECT_EQ(BarColumnsShown(shot, origin, 28, 221, total_bar), 463);

  std::atomic<HWND> box{nullptr};
  Thread closer([&] {
    for (int i = 0; i < 500 && !box; ++i, Sleep(10)) box = FindWindowA("#32770", "Success!");
    if (!box) return;
    Sleep(300);
    ScreenShot::Take().SavePng(ShotPath("06_final_box.png"));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  MessageBoxW(CurrentProgressWindowHandle(), L"The patch has been properly installed on your system!",
              L"Success!", MB_TOPMOST | MB_ICONINFORMATION);
  closer.Join();
  ASSERT_NE(box.load(), nullptr);

  // Stopping: "Exiting..", empty detail, full total bar, item bar unchanged, then gone.
  // The closing frame, caught during the fade-out (colours scaled by the fading opacity):
  // "Exiting..", no detail, the total bar full, the item bar as it was.
  UiSnapshot closing = state;
  closing.status = LoadText(206);
  closing.detail = L"";
  const CxImage closing_canvas = ExpectedCanvas(background, closing);
  CxImage closing_bars;
  CopyImage(closing_bars, background);
  {
    ScreenDc screen;
    MemoryDc memory(CreateCompatibleDC(screen.get()));
    DibSection dib = CreateDib(memory.get(), 519, 316, 32);
    SelectGuard selection(memory.get(), dib.bitmap.get());
    DrawImage(background, memory.get(), 0, 0);
    const RECT item_clip{28, 196, BarClipRight(28, 463, 0.25f), 213};
    DrawImage(item_bar, memory.get(), 28, 196, &item_clip);
    DrawImage(total_bar, memory.get(), 28, 221);
    GdiFlush();
    for (int y = 0; y < 316; ++y)
      for (int x = 0; x < 519; ++x)
        std::memcpy(&closing_bars.pixels[closing_bars.PixelOffset(x, y)],
                    dib.bits + static_cast<size_t>(315 - y) * dib.stride + 4 * x, 3);
  }
  std::atomic<bool> stopping{true};
  ScreenShot closing_frame;
  Thread watcher([&] {
    while (stopping) {
      ScreenShot s = ScreenShot::Take();
      if (Differences(s, origin, closing_canvas, RECT{28, 160, 491, 195}, 8) == 0 &&
          Differences(s, origin, closing_canvas, percent_area, 8) == 0 &&
          Differences(s, origin, closing_bars, RECT{28, 196, 491, 238}, 8) == 0) {
        closing_frame = std::move(s);
        break;
      }
    }
  });
  StopUi();
  stopping = false;
  watcher.Join();
  EXPECT_EQ(CurrentProgressWindowHandle(), nullptr);
  EXPECT_FALSE(IsWindow(window));
  ASSERT_GT(closing_frame.width(), 0) << "no closing frame seen";
  closing_frame.SavePng(ShotPath("07_exiting.png"));
  UiSnapshot after;
  TakeSnapshotIfDirty(after);
  SetStatusText(L"after");  // the setters still work, nothing shows
  ASSERT_TRUE(TakeSnapshotIfDirty(after));
  EXPECT_EQ(after.status, L"after");
  EXPECT_FLOAT_EQ(after.total_progress, 1.0f);
  EXPECT_FLOAT_EQ(after.item_progress, 0.25f);
  EXPECT_EQ(after.detail, L"");
}

}  // namespace
}  // namespace vard

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new vard::Backdrop);
  return RUN_ALL_TESTS();
}
