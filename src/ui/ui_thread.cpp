// StartUi, the UI thread and StopUi: the progress window's life on a thread of its own,
// bracketed by three named manual-reset events (ready, stop request, stopped).
#include <windows.h>
#include <process.h>

#include <atomic>
#include <exception>
#include <memory>
#include <stdexcept>

#include "model/ui_lock.h"
#include "model/ui_state.h"
#include "os/win_handle.h"
#include "ui/progress_window.h"
#include "ui/skin_window.h"
#include "ui/text.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

constexpr TextId kExitingText = 206;

// Shared between StartUi/StopUi on the worker and the UI thread. The handles are written
// by the worker before the thread starts and closed only after it has ended.
struct UiThreadControl {
  KernelHandle ready;
  KernelHandle stop;
  KernelHandle stopped;
  KernelHandle thread;
  // A failure of the UI thread before the window was up, handed to StartUi to raise.
  std::exception_ptr failure;
  // Set once the window has faded in: from then on a failure ends the process at once.
  bool window_up = false;
};

std::atomic<void (*)()> pass_hook{nullptr};

UiThreadControl& Control() {
  static UiThreadControl control;
  return control;
}

void FadeIn(ProgressWindow& window, const UiSnapshot& snapshot) {
  while (window.alpha != 255) {
    PumpWindowMessages(window.window);
    Sleep(2);
    window.alpha += 1;
    window.Draw(snapshot);
  }
}

void FadeOut(ProgressWindow& window, const UiSnapshot& snapshot) {
  while (window.alpha != 0) {
    PumpWindowMessages(window.window);
    Sleep(1);
    window.alpha = window.alpha > 3 ? window.alpha - 3 : 0;
    window.Draw(snapshot);
  }
}

void RunUiThread(UiThreadControl& control) {
  UiSnapshot snapshot;
  auto window = std::make_unique<ProgressWindow>();
  TakeSnapshotIfDirty(snapshot);
  FadeIn(*window, snapshot);
  control.window_up = true;
  SetEvent(control.ready.get());
  bool last_pass = false;
  while (!last_pass) {
    last_pass = WaitForSingleObject(control.stop.get(), 20) == WAIT_OBJECT_0;
    PumpWindowMessages(window->window);
    if (TakeSnapshotIfDirty(snapshot)) window->Draw(snapshot);
    if (void (*hook)() = pass_hook.load()) hook();
  }
  FadeOut(*window, snapshot);
  window.reset();
}

unsigned __stdcall UiThreadMain(void*) {
  UiThreadControl& control = Control();
  try {
    RunUiThread(control);
  } catch (...) {
    // Once the window is up the run goes on without waiting for this thread, and would
    // show its next box (even "Success!") before StopUi could raise the failure: the
    // process takes the fatal path now, through the terminate handler the run installed.
    if (control.window_up) std::terminate();
    // Before that, StartUi is waiting and raises the failure on the worker.
    control.failure = std::current_exception();
    return 1;
  }
  SetEvent(control.stopped.get());
  return 0;
}

// Waits until the event is set or the UI thread has ended; a thread that ended with a
// failure has its exception raised here, on the worker.
void WaitForEventOrThreadEnd(HANDLE event) {
  UiThreadControl& control = Control();
  HANDLE waits[2] = {event, control.thread.get()};
  const DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0 || WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return;
  if (control.failure) {
    std::exception_ptr failure = std::exchange(control.failure, nullptr);
    std::rethrow_exception(failure);
  }
  throw std::runtime_error("Cannot create GUI");
}

void CloseControl() {
  UiThreadControl& control = Control();
  control.ready.reset();
  control.stop.reset();
  control.stopped.reset();
  control.thread.reset();
}

}  // namespace

void StartUi() {
  UiThreadControl& control = Control();
  control.ready.reset(CreateEventA(nullptr, TRUE, FALSE, "VardWindowEvent1"));
  control.stop.reset(CreateEventA(nullptr, TRUE, FALSE, "VardWindowEvent2"));
  control.stopped.reset(CreateEventA(nullptr, TRUE, FALSE, "VardWindowEvent3"));
  control.failure = nullptr;
  control.window_up = false;
  if (!control.ready || !control.stop || !control.stopped) {
    CloseControl();
    throw std::runtime_error("Cannot create GUI");
  }
  SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
  const uintptr_t thread = _beginthreadex(&security, 0, UiThreadMain, nullptr, 0, nullptr);
  if (thread == 0) {
    CloseControl();
    throw std::runtime_error("Cannot create GUI");
  }
  control.thread.reset(reinterpret_cast<HANDLE>(thread));
  try {
    WaitForEventOrThreadEnd(control.ready.get());
  } catch (...) {
    CloseControl();
    throw;
  }
}

void StopUi() {
  SetStatusText(LoadText(kExitingText));
  SetDetailText(L"");
  SetTotalProgress(1.0f);
  UiThreadControl& control = Control();
  if (!control.thread) return;  // no UI thread to stop
  SetEvent(control.stop.get());
  try {
    WaitForEventOrThreadEnd(control.stopped.get());
  } catch (...) {
    CloseControl();
    throw;
  }
  // The thread sets "stopped" just before it returns; its end makes the window go too.
  WaitForSingleObject(control.thread.get(), INFINITE);
  CloseControl();
}

void SetUiThreadPassHook(void (*hook)()) { pass_hook = hook; }

HWND CurrentProgressWindowHandle() {
  UiLockGuard lock;
  ProgressWindow* window = CurrentProgressWindow();
  return window ? window->window : nullptr;
}

}  // namespace vard
