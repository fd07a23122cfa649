#include "model/ui_state.h"

#include "model/ui_lock.h"

namespace vard {
namespace {

struct UiState {
  UiSnapshot values;
  bool dirty = false;
  ProgressWindow* current_window = nullptr;
};

UiState& State() {
  static UiState state;
  return state;
}

float Clamp01(float value) {
  if (!(value > 0.0f)) return 0.0f;  // negatives and NaN
  if (value > 1.0f) return 1.0f;
  return value;
}

}  // namespace

void SetTitleText(const std::wstring& text) {
  UiLockGuard lock;
  State().values.title = text;
  State().dirty = true;
}

void SetStatusText(const std::wstring& text) {
  UiLockGuard lock;
  State().values.status = text;
  State().dirty = true;
}

void SetDetailText(const std::wstring& text) {
  UiLockGuard lock;
  State().values.detail = text;
  State().dirty = true;
}

void SetItemProgress(float value) {
  UiLockGuard lock;
  State().values.item_progress = Clamp01(value);
  State().dirty = true;
}

void SetTotalProgress(float value) {
  UiLockGuard lock;
  State().values.total_progress = Clamp01(value);
  State().dirty = true;
}

bool TakeSnapshotIfDirty(UiSnapshot& snapshot) {
  UiLockGuard lock;
  if (!State().dirty) return false;
  State().dirty = false;
  snapshot = State().values;
  return true;
}

ProgressWindow* CurrentProgressWindow() {
  UiLockGuard lock;
  return State().current_window;
}

void SetCurrentProgressWindow(ProgressWindow* window) {
  UiLockGuard lock;
  State().current_window = window;
}

}  // namespace vard
