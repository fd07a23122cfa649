// The shared UI state: what the worker wants the player to see, written through five
// setters under the UI lock and copied by the UI thread whenever it is marked dirty.
// Setters may be called from any thread, before, during and after the progress window.
#pragma once

#include <string>

namespace vard {

struct UiSnapshot {
  std::wstring title;
  std::wstring status;
  std::wstring detail;
  float item_progress = 0.0f;
  float total_progress = 0.0f;
};

void SetTitleText(const std::wstring& text);
void SetStatusText(const std::wstring& text);
void SetDetailText(const std::wstring& text);
// Both store the value clamped to [0, 1].
void SetItemProgress(float value);
void SetTotalProgress(float value);

// For the UI thread: under the UI lock, when the state is dirty, clears the flag, copies
// the five members into snapshot and returns true; otherwise leaves snapshot alone.
bool TakeSnapshotIfDirty(UiSnapshot& snapshot);

// The progress window object of the UI thread while it exists, else null. Read and written
// under the UI lock; the window type itself belongs to the Windows layer.
class ProgressWindow;
ProgressWindow* CurrentProgressWindow();
void SetCurrentProgressWindow(ProgressWindow* window);

}  // namespace vard
