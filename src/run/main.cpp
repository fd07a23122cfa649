// Process entry of the patcher: a GUI program with no arguments. Every orderly outcome,
// refusals and errors shown to the player included, exits with code 0.
#include <windows.h>

#include <cstddef>

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

// The loader's load-configuration structure. Its DependentLoadFlags field (Reserved1 in these
// headers) makes systems that know it resolve the exe's imports, and every LoadLibrary call
// without search flags, from the system folder alone, before any code of the exe runs. The
// linker leaves the directory that names the structure empty; scripts/set_load_config.py
// fills it in after the link. Every other field is zero: no security cookie to set up, no
// table of exception handlers (the loader then treats the image as one without the
// structure), the system's defaults for heaps and critical sections.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfiguration() {
  IMAGE_LOAD_CONFIG_DIRECTORY config{};
  config.Size = sizeof config;
  config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;
}
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, Reserved1) ==
                  (sizeof(void*) == 8 ? 0x4E : 0x36),
              "DependentLoadFlags is the 16-bit field after CSDVersion");

// Values of the redirection trust mitigation, which the headers of this toolchain lack:
// with it, the system refuses to follow a junction that a non-administrator created, in
// every file call of the process.
constexpr int kProcessRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 0x1;
using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(int, PVOID, SIZE_T);

// The patcher's own checks refuse every link below the installation folder; this also
// covers the way to it. Looked up rather than imported (Windows 10 21H2 and later know
// it); where it is missing or refused the run goes on, protected by those checks alone.
void TrustOnlyAdministratorsJunctions() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto set_policy = reinterpret_cast<SetProcessMitigationPolicyFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")));
  if (set_policy == nullptr) return;
  DWORD flags = kEnforceRedirectionTrust;
  set_policy(kProcessRedirectionTrustPolicy, &flags, sizeof flags);
}

}  // namespace

// scripts/set_load_config.py finds the structure by this name ("__load_config_used" in
// 32-bit symbol tables).
extern "C" __attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used =
    LoadConfiguration();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  TrustOnlyAdministratorsJunctions();
  vard::RunGuarded();
  return 0;
}
