// The fatal path: what ends the process when an exception or a processor fault escapes,
// on whatever thread. One thread shows the fixed English error box, then the process ends
// at once with exit code -1, running no exit handlers and no static destructors.
#pragma once

#include <windows.h>

namespace vard {

// Enters the process-wide fatal lock (never left, so a second faulting thread waits until
// the process is gone), shows the fatal box and terminates the process with -1.
[[noreturn]] void TakeFatalPath();

// Makes every fault of the process, on any thread, take the fatal path: installs
// FatalFaultFilter as the unhandled-exception filter (returning the previous one) and
// FatalTerminate as the terminate handler.
LPTOP_LEVEL_EXCEPTION_FILTER InstallFatalHandlers();

// The unhandled-exception filter that InstallFatalHandlers installs: every structured exception
// that no frame handles, on any thread, takes the fatal path.
LONG WINAPI FatalFaultFilter(EXCEPTION_POINTERS* exception);

// The terminate handler: a C++ exception that leaves a thread's function (or any other
// call of std::terminate) takes the fatal path as well.
[[noreturn]] void FatalTerminate();

}  // namespace vard
