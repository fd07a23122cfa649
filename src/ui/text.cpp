#include "ui/text.h"

#include "base/text.h"
#include "manifest/patch_config.h"
#include "os/registry.h"
#include "ui/language.h"
#include "ui/string_block.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

// Process-wide and unguarded: the choice is made on the main thread before the UI thread
// exists, and boxes are shown one at a time.
LangId text_language = 0;
bool language_chosen = false;
bool language_known = false;
HHOOK relabel_hook = nullptr;

void InstallRelabelHook() {
  relabel_hook = SetWindowsHookExA(WH_CBT, RelabelButtonsHook, nullptr, GetCurrentThreadId());
}

}  // namespace

bool ChooseLanguage() {
  if (language_chosen) return language_known;
  language_chosen = true;
  language_known = true;
  // A failed read leaves 0, which counts as an unknown language.
  std::uint32_t value = 0;
  ReadDword(GetPatchConfig().reg_language, value);
  const LanguageChoice choice = MapInstallLanguage(value, GetUserDefaultLangID());
  text_language = choice.text_language;
  language_known = choice.known;
  return language_known;
}

std::wstring LoadText(TextId id) {
  if (!language_chosen) ChooseLanguage();
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(6) /* RT_STRING */,
                                MAKEINTRESOURCEA(id / 16 + 1), text_language);
  if (found == nullptr) return std::wstring();
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return std::wstring();
  const void* block = LockResource(loaded);
  if (block == nullptr) return std::wstring();
  const DWORD bytes = SizeofResource(module, found);
  return StringBlockEntry(static_cast<const std::uint16_t*>(block), bytes / 2, id % 16);
}

int ShowMessage(TextId caption, TextId text, UINT style) {
  const std::wstring caption_text = LoadText(caption);
  const std::wstring body = LoadText(text);
  HWND owner = CurrentProgressWindowHandle();
  InstallRelabelHook();
  return MessageBoxW(owner, body.c_str(), caption_text.c_str(), style);
}

int ShowFatalError() {
  const std::wstring body = Utf8ToWide("An internal error has occured.");
  const std::wstring caption = Utf8ToWide("Error!");
  InstallRelabelHook();
  return MessageBoxW(nullptr, body.c_str(), caption.c_str(), MB_TOPMOST | MB_ICONERROR);
}

LRESULT CALLBACK RelabelButtonsHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code != HCBT_ACTIVATE) {
    CallNextHookEx(relabel_hook, code, wparam, lparam);
    return 0;
  }
  HWND box = reinterpret_cast<HWND>(wparam);
  static const struct { int control; TextId text; } kLabels[] = {
      {IDOK, 219}, {IDCANCEL, 220}, {IDRETRY, 221}, {IDNO, 225}, {IDYES, 224}};
  // No exception may cross the system's callback frames. A lookup can only throw when the
  // fatal box comes up before the language was chosen and the configuration cannot be
  // built; the remaining buttons then keep their system labels.
  try {
    for (const auto& label : kLabels) {
      if (GetDlgItem(box, label.control) != nullptr) {
        SetDlgItemTextW(box, label.control, LoadText(label.text).c_str());
      }
    }
  } catch (...) {
  }
  UnhookWindowsHookEx(relabel_hook);
  return 0;
}

}  // namespace vard
