// A process that ends on the fatal path in the way its argument names, for fatal_test:
//   run           RunGuarded with a broken main manifest (an exception out of RunPatch)
//   fault-thread  a processor fault on a second thread
//   throw-thread  a C++ exception leaving a second thread's function
//   two-faults    faults on two threads at once (only one box may appear)
//   window-fails  the progress window's thread fails once the window is up, while the run
//                 goes on (built with the skins as fatal_probe_skinned.exe)
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "run/fatal.h"
#include "run/run_patch.h"
#include "ui/windows_ui.h"

namespace {

volatile int* volatile null_target = nullptr;
HANDLE start_gate = nullptr;

DWORD WINAPI Fault(void*) {
  WaitForSingleObject(start_gate, INFINITE);
  *null_target = 1;
  return 0;
}

DWORD WINAPI Throw(void*) {
  throw std::runtime_error("escapes the thread");
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "run") == 0) {
    vard::RunGuarded();
    return 0;
  }
  vard::InstallFatalHandlers();
  if (std::strcmp(mode, "window-fails") == 0) {
    vard::StartUi();
    vard::SetUiThreadPassHook([] { throw std::runtime_error("the window thread fails"); });
    Sleep(60000);  // the run's next steps; StopUi is never reached
    return 2;
  }
  start_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (std::strcmp(mode, "fault-thread") == 0) {
    CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr);
  } else if (std::strcmp(mode, "two-faults") == 0) {
    CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr);
    CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr);
    Sleep(100);
  } else if (std::strcmp(mode, "throw-thread") == 0) {
    CreateThread(nullptr, 0, Throw, nullptr, 0, nullptr);
  } else {
    return 3;
  }
  SetEvent(start_gate);
  Sleep(60000);
  return 2;  // the fatal path never came
}
