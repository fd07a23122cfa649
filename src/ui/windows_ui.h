// The two skinned windows as the run uses them: the splash at the start, and the progress
// window on its own thread between StartUi and StopUi.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace vard {

// Shows the splash picture, fades it in, holds it and fades it out; returns once it is
// hidden. Main thread, before any other window.
void ShowSplash();

// Starts the UI thread and returns once the progress window has faded in.
void StartUi();

// Shows "Exiting..", fills the total bar, stops the UI thread and returns once it ended.
// A failure of the UI thread before its window is up is raised by StartUi; once the
// window is up, a failure ends the process on the fatal path at once (std::terminate).
void StopUi();

// A function the UI thread calls after each pass of its loop, or null (the default).
// For tests that need the thread to fail while the window is up.
void SetUiThreadPassHook(void (*hook)());

#ifdef _WIN32
// The handle of the current progress window, or null when none exists: the owner of the
// run's message boxes.
HWND CurrentProgressWindowHandle();
#endif

}  // namespace vard
