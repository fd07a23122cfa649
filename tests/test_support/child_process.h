// Test helpers for tests that need a fresh process (process-wide choices such as the text
// language are made once): run this test executable again with other arguments, and the
// registry values below HKEY_LOCAL_MACHINE that such a child reads.
#pragma once

#include <windows.h>

#include <string>

namespace vard::test {

inline std::wstring OwnExecutable() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// Starts program with the command-line arguments; the child inherits the environment.
// Returns the process handle (null on failure) and its id in pid.
inline HANDLE StartChild(const std::wstring& program, const std::wstring& arguments, DWORD& pid) {
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    pid = 0;
    return nullptr;
  }
  CloseHandle(info.hThread);
  pid = info.dwProcessId;
  return info.hProcess;
}

// Waits for the child and returns its exit code (STILL_ACTIVE after a timeout).
inline DWORD WaitForExit(HANDLE process, DWORD timeout_ms = 60000) {
  WaitForSingleObject(process, timeout_ms);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  return code;
}

inline void SetMachineValue(const wchar_t* key_path, const wchar_t* name, DWORD type,
                            const void* data, DWORD size) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

inline void SetMachineDword(const wchar_t* key_path, const wchar_t* name, DWORD value) {
  SetMachineValue(key_path, name, REG_DWORD, &value, sizeof value);
}

inline void SetMachineText(const wchar_t* key_path, const wchar_t* name, const std::wstring& text,
                           DWORD type = REG_SZ) {
  SetMachineValue(key_path, name, type, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void DeleteMachineValue(const wchar_t* key_path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, name);
    RegCloseKey(key);
  }
}

}  // namespace vard::test
