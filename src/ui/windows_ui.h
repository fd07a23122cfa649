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
void StopUi();

#ifdef _WIN32
// The handle of the current progress window, or null when none exists: the owner of the
// run's message boxes.
HWND CurrentProgressWindowHandle();
#endif

}  // namespace vard
