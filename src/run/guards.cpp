#include "run/guards.h"

#include <windows.h>

#include "os/win_handle.h"
#include "ui/text.h"

namespace vard {
namespace {

constexpr char kPatcherName[] = "Global\\KORAX_Patch";
constexpr char kGameRunningName[] = "Global\\KORAX_Running";
constexpr char kDemoName[] = "Global\\KORAX DEMO";  // a blank before DEMO, as the game has it
constexpr char kGameName[] = "Global\\KORAX";
constexpr DWORD kGameWaitMs = 2000;

// Creates (or opens) the named mutex, not owned. exists tells whether the name was there.
KernelHandle CreateNamedMutex(const char* name, bool& exists) {
  KernelHandle handle(CreateMutexA(nullptr, FALSE, name));
  exists = handle && GetLastError() == ERROR_ALREADY_EXISTS;
  return handle;
}

// Held names are never closed: the system releases them when the process ends.
void HoldForProcessLifetime(KernelHandle handle) { handle.release(); }

}  // namespace

bool ClaimInstance() {
  bool exists = false;
  KernelHandle handle = CreateNamedMutex(kPatcherName, exists);
  if (exists) return false;  // the handle closes here
  HoldForProcessLifetime(std::move(handle));
  return true;
}

bool WaitForGameExit() {
  bool go_on = true;
  for (;;) {
    bool running = false;
    KernelHandle probe = CreateNamedMutex(kGameRunningName, running);
    // Closing our handle when we created the name removes the mutex again.
    probe.reset();
    if (!running) break;
    if (!go_on) return false;
    Sleep(kGameWaitMs);
    go_on = ShowMessage(203, 205, MB_RETRYCANCEL | MB_ICONERROR) == IDRETRY;
  }
  bool ignored = false;
  HoldForProcessLifetime(CreateNamedMutex(kGameRunningName, ignored));
  HoldForProcessLifetime(CreateNamedMutex(kDemoName, ignored));
  HoldForProcessLifetime(CreateNamedMutex(kGameName, ignored));
  return go_on;
}

}  // namespace vard
