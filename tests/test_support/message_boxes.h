// Test helpers that play the player at a message box: find the box a process (or this
// process's other thread) shows, read its caption, text and button labels, press a button.
// They work across processes, so a test can watch a child that ends on the fatal box.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace vard::test {

struct SeenBox {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
  std::map<int, std::wstring> buttons;  // control id -> label, visible buttons only
  LONG ex_style = 0;                    // Wine does not mark MB_TOPMOST boxes WS_EX_TOPMOST
  // "error", "information", "warning", "question", "" (none) or "other". Under Wine the
  // system icons have a handle per process, so only boxes of this process are recognised.
  std::wstring icon;
};

// Names the system icon the box's icon control shows (shared icons have one handle).
inline std::wstring IconName(HWND icon_control) {
  DWORD_PTR shown = 0;
  SendMessageTimeoutW(icon_control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &shown);
  if (shown == 0) return L"";
  // IDI_ERROR, IDI_QUESTION, IDI_WARNING, IDI_INFORMATION.
  const struct { WORD id; const wchar_t* name; } kIcons[] = {
      {32513, L"error"}, {32514, L"question"}, {32515, L"warning"}, {32516, L"information"}};
  for (const auto& icon : kIcons) {
    if (reinterpret_cast<DWORD_PTR>(LoadIconW(nullptr, MAKEINTRESOURCEW(icon.id))) == shown) {
      return icon.name;
    }
  }
  return L"other";
}

inline std::wstring WindowText(HWND window) {
  wchar_t buffer[2048] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 2000, &ignored);
  return buffer;
}

struct BoxSearch {
  DWORD pid;
  HWND first;
  int count;
};

// Window enumeration callback (stdcall on 32 bits, hence no lambda).
inline BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (owner == search->pid && IsWindowVisible(window) && std::wstring(cls) == L"#32770") {
    if (search->first == nullptr) search->first = window;
    ++search->count;
  }
  return TRUE;
}

// The first visible dialog-class window of process pid, or null.
inline HWND FindBoxOf(DWORD pid) {
  BoxSearch search{pid, nullptr, 0};
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.first;
}

// Counts the visible dialog-class windows of process pid.
inline int CountBoxesOf(DWORD pid) {
  BoxSearch search{pid, nullptr, 0};
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

// Waits up to timeout_ms for a box of pid and reads it; window stays null on timeout.
// A short settle time lets the box finish relabelling its buttons at activation.
inline SeenBox WaitForBox(DWORD pid, DWORD timeout_ms = 20000) {
  SeenBox box;
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  while ((window = FindBoxOf(pid)) == nullptr) {
    if (GetTickCount() - start > timeout_ms) return box;
    Sleep(50);
  }
  Sleep(200);
  box.window = window;
  box.caption = WindowText(window);
  box.ex_style = GetWindowLongW(window, GWL_EXSTYLE);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[64] = {};
    GetClassNameW(child, cls, 64);
    const std::wstring name = cls;
    if (!IsWindowVisible(child)) continue;
    if (_wcsicmp(name.c_str(), L"Button") == 0) {
      box.buttons[GetDlgCtrlID(child)] = WindowText(child);
    } else if (_wcsicmp(name.c_str(), L"Static") == 0) {
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        box.icon = IconName(child);
        continue;
      }
      const std::wstring text = WindowText(child);
      if (!text.empty()) box.text = text;
    }
  }
  return box;
}

// Presses the button as a click would: the box ends with that id.
inline void PressButton(const SeenBox& box, int id) {
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.window, id)));
}

}  // namespace vard::test
