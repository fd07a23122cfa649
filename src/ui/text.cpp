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
// The MessageBoxW flags of the box the hook is waiting for.
UINT hooked_box_style = 0;

void InstallRelabelHook(UINT style) {
  hooked_box_style = style;
  relabel_hook = SetWindowsHookExA(WH_CBT, RelabelButtonsHook, nullptr, GetCurrentThreadId());
}

// When a box owned by the progress window closes, the system hands activation back to the
// progress window, on the UI thread, when that thread next reads its messages. Left
// pending, the handoff can complete after the next box is up, and the progress window
// (topmost, centred) then comes up over it: an unowned box such as the fatal one is hidden
// and inactive. Waits until the owner's thread has taken activation back, at most 1 s
// (a thread that does not read its messages must not hold the run up).
void AwaitActivationOf(HWND owner) {
  const DWORD thread = GetWindowThreadProcessId(owner, nullptr);
  if (thread == 0 || thread == GetCurrentThreadId()) return;
  for (int waited = 0; waited < 1000; waited += 5) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread, &info) || info.hwndActive == owner) return;
    Sleep(5);
  }
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
  InstallRelabelHook(style);
  const int pressed = MessageBoxW(owner, body.c_str(), caption_text.c_str(), style);
  if (owner != nullptr) AwaitActivationOf(owner);
  return pressed;
}

int ShowFatalError() {
  const std::wstring body = Utf8ToWide("An internal error has occured.");
  const std::wstring caption = Utf8ToWide("Error!");
  const UINT style = MB_TOPMOST | MB_ICONERROR;
  InstallRelabelHook(style);
  return MessageBoxW(nullptr, body.c_str(), caption.c_str(), style);
}

LRESULT CALLBACK RelabelButtonsHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code != HCBT_ACTIVATE) {
    CallNextHookEx(relabel_hook, code, wparam, lparam);
    return 0;
  }
  HWND box = reinterpret_cast<HWND>(wparam);
  // A box without an owner is stacked on its own: the progress window is topmost, and a
  // message box that ignores MB_TOPMOST (Wine's does) ends up under it, hidden and
  // unanswerable. The box is put in the topmost band before it is first shown active.
  if ((hooked_box_style & MB_TOPMOST) != 0) {
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
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
