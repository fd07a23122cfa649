// The progress window: the layered window of the UI thread, drawn from the skin background
// with the title, status, detail and percentage texts and the item and total bars.
// Created, drawn and destroyed on the UI thread only; its images are guarded by the UI lock.
#pragma once

#include <windows.h>

#include <memory>

#include "model/ui_state.h"
#include "ui/cx_image.h"
#include "ui/skin_layout.h"
#include "ui/skin_window.h"

namespace vard {

class ProgressWindow {
 public:
  // Becomes the current progress window at once, loads skin images 103, 104 and 105 and
  // creates the hidden, fully transparent window, draws it once and shows it. Throws
  // "Cannot load internal resource" or "Cannot create GUI"; on a throw it is no longer the
  // current progress window.
  ProgressWindow();
  // Destroys the images and stops being the current progress window, under the UI lock.
  // The window itself is left to the system, which destroys it with its thread.
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // One frame from the snapshot at the current opacity; holds the UI lock throughout. The
  // texts and bars are composed again only when the snapshot differs from the one drawn
  // last: the fades draw the same snapshot at every step and change only the opacity.
  void Draw(const UiSnapshot& snapshot);

  int alpha = 0;
  CxImage background;
  CxImage total_bar;
  CxImage item_bar;
  CxImage canvas;
  HWND window = nullptr;
  // Frames pushed to the window so far; lets a test see that changes were coalesced.
  int frames_drawn = 0;

 private:
  void Build();
  void ReleaseImages();

  std::unique_ptr<LayeredFrame> frame_;
  UiSnapshot composed_;  // what frame_ shows, when frame_composed_
  bool frame_composed_ = false;
};

// The text shown for a total progress in [0, 1]: whole percent, truncated ("99%" for
// 0.999, "100%" for 1).
void FormatPercentage(float total_progress, wchar_t (&buffer)[64]);

}  // namespace vard
