#include "ui/progress_window.h"

#include <cwchar>

#include "model/ui_lock.h"
#include "ui/skin_image.h"
#include "ui/skin_window.h"

namespace vard {
namespace {

bool SameSnapshot(const UiSnapshot& a, const UiSnapshot& b) {
  return a.title == b.title && a.status == b.status && a.detail == b.detail &&
         a.item_progress == b.item_progress && a.total_progress == b.total_progress;
}

}  // namespace

void FormatPercentage(float total_progress, wchar_t (&buffer)[64]) {
  swprintf_s(buffer, 64, L"%d%%", static_cast<int>(total_progress * 100));
}

ProgressWindow::ProgressWindow() {
  SetCurrentProgressWindow(this);
  try {
    Build();
  } catch (...) {
    ReleaseImages();
    throw;
  }
}

void ProgressWindow::Build() {
  LoadSkinImage(background, 103);
  LoadSkinImage(item_bar, 104);
  LoadSkinImage(total_bar, 105);
  canvas.Create(background.width, background.height);
  alpha = 0;
  HWND created = CreateSkinWindow("VardClass", background.width, background.height, this);
  {
    UiLockGuard lock;  // the main thread reads the handle as the owner of its boxes
    window = created;
  }
  Draw(UiSnapshot{});
  ShowWindow(window, SW_SHOW);
}

ProgressWindow::~ProgressWindow() { ReleaseImages(); }

void ProgressWindow::ReleaseImages() {
  UiLockGuard lock;
  background.Clear();
  total_bar.Clear();
  item_bar.Clear();
  canvas.Clear();
  frame_.reset();
  frame_composed_ = false;
  SetCurrentProgressWindow(nullptr);
}

void ProgressWindow::Draw(const UiSnapshot& snapshot) {
  using L = ProgressLayout;
  UiLockGuard lock;
  if (background.Empty() || window == nullptr) return;
  if (!frame_ || !frame_->bits()) {  // made again when a DIB could not be had before
    frame_ = std::make_unique<LayeredFrame>(background.width, background.height);
    frame_composed_ = false;
  }
  if (!frame_composed_ || !SameSnapshot(snapshot, composed_)) {
    CopyImage(canvas, background);
    const COLORREF white = RGB(255, 255, 255);
    RenderText(canvas, frame_->dc(), background.width / 2, L::kTitleY, snapshot.title, white,
               L::kSmallFontHeight, L::kSmallFontWeight, 1);
    RenderText(canvas, frame_->dc(), L::kDetailX, L::kDetailY, snapshot.detail, white,
               L::kSmallFontHeight, L::kSmallFontWeight, 0);
    RenderText(canvas, frame_->dc(), L::kStatusX, L::kStatusY, snapshot.status, white,
               L::kSmallFontHeight, L::kSmallFontWeight, 0);
    wchar_t percentage[64];
    FormatPercentage(snapshot.total_progress, percentage);
    RenderText(canvas, frame_->dc(), L::kPercentX, L::kPercentY, percentage, white,
               L::kPercentFontHeight, L::kPercentFontWeight, 2);

    // The texts are in the canvas; the rest of the frame is portable pixel arithmetic.
    GdiFlush();
    ComposeProgressFrame(canvas, item_bar, total_bar, snapshot.item_progress,
                         snapshot.total_progress, frame_->bits());
    composed_ = snapshot;
    frame_composed_ = true;
  }
  frame_->Present(window, background, alpha);
  ++frames_drawn;
}

}  // namespace vard
