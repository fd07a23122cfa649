#include "run/fatal.h"

#include <exception>

#include "os/critical_section.h"
#include "ui/text.h"

namespace vard {
namespace {

// Created during static initialisation, before any second thread can fault.
CriticalSection fatal_lock(4000);

}  // namespace

void TakeFatalPath() {
  fatal_lock.Enter();
  // The box must not become a second way out: whatever it throws ends the process too.
  try {
    ShowFatalError();
  } catch (...) {
  }
  // TerminateProcess on the own process does not return and runs neither atexit handlers
  // nor static destructors.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(-1));
  ExitProcess(static_cast<UINT>(-1));
}

LPTOP_LEVEL_EXCEPTION_FILTER InstallFatalHandlers() {
  std::set_terminate(FatalTerminate);
  return SetUnhandledExceptionFilter(FatalFaultFilter);
}

LONG WINAPI FatalFaultFilter(EXCEPTION_POINTERS*) { TakeFatalPath(); }

void FatalTerminate() { TakeFatalPath(); }

}  // namespace vard
