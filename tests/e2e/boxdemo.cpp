// boxdemo: a small stand-in player-facing program that the harness's own scenario drives,
// so that vardplay is known to read boxes, hold and release mutexes, set and read the
// registry and record exit codes correctly, independently of the patcher.
//   1. Yes/No box, caption "¡Aviso!", two-line text, buttons relabelled "Sí" / "No" by a
//      thread-local CBT hook; No ends with exit code 0.
//   2. While "Global\KORAX_Running" exists: Retry/Cancel box "running"; Cancel ends (0).
//   3. Topmost information box: HKLM\SOFTWARE\Vard Test\Probe "Text", a blank and the
//      player's default language id (GetUserDefaultLangID) in decimal.
//   4. Writes "Seen" = "yes" there and ends with the DWORD "ExitCode" (0 when absent).
#include <windows.h>

#include <string>

namespace {

HHOOK g_hook = nullptr;

LRESULT CALLBACK Relabel(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    if (GetDlgItem(box, IDYES)) SetDlgItemTextW(box, IDYES, L"S\u00ed");
    if (GetDlgItem(box, IDNO)) SetDlgItemTextW(box, IDNO, L"No");
    if (GetDlgItem(box, IDOK)) SetDlgItemTextW(box, IDOK, L"Aceptar");
    UnhookWindowsHookEx(g_hook);
    return 0;
  }
  return CallNextHookEx(g_hook, code, wparam, lparam);
}

int Box(const std::wstring& caption, const std::wstring& text, UINT style) {
  g_hook = SetWindowsHookExW(WH_CBT, Relabel, nullptr, GetCurrentThreadId());
  return MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

bool GameRunning() {
  HANDLE m = CreateMutexA(nullptr, FALSE, "Global\\KORAX_Running");
  const bool exists = m && GetLastError() == ERROR_ALREADY_EXISTS;
  if (m) CloseHandle(m);
  return exists;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  if (Box(L"\u00a1Aviso!", L"L\u00ednea 1\nZeile 2 \u2013 \u00fc", MB_YESNO | MB_ICONEXCLAMATION) ==
      IDNO)
    return 0;
  while (GameRunning())
    if (Box(L"Error!", L"running", MB_RETRYCANCEL | MB_ICONERROR) != IDRETRY) return 0;

  HKEY key = nullptr;
  wchar_t text[256] = L"(absent)";
  DWORD exit_code = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vard Test\\Probe", 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    DWORD size = sizeof text - sizeof(wchar_t);
    RegQueryValueExW(key, L"Text", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    size = sizeof exit_code;
    RegQueryValueExW(key, L"ExitCode", nullptr, nullptr, reinterpret_cast<BYTE*>(&exit_code),
                     &size);
    RegSetValueExW(key, L"Seen", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"yes"), 8);
    RegCloseKey(key);
  }
  const std::wstring shown = std::wstring(text) + L" " + std::to_wstring(GetUserDefaultLangID());
  Box(L"Done", shown, MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
  ExitProcess(exit_code);
}
