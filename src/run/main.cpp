// Process entry of the patcher: a GUI program with no arguments. Every orderly outcome,
// refusals and errors shown to the player included, exits with code 0.
#include <windows.h>

#include "run/run_patch.h"

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The patcher runs elevated, often from a download folder that others can write to: no
// library may be loaded from there or from the current folder. Runs before every other
// static initialiser (priority 101), so before anything of ours can load a library. The
// executable imports only libraries that the system always takes from its own folder.
// SetDefaultDllDirectories is looked up rather than imported, so that systems without it
// still start the patcher; they at least lose the current folder from the search.
__attribute__((constructor(101))) void RestrictLibrarySearchToSystemFolder() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  vard::RunGuarded();
  return 0;
}
