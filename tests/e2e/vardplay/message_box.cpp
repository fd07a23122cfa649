#include "message_box.h"

#include "screen.h"
#include "text.h"

namespace vardplay {

std::string WindowClass(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return Narrow(name);
}

std::string WindowText(HWND window) {
  std::wstring text(8192, L'\0');
  const int n = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return Narrow(text);
}

BoxView ReadBox(HWND box) {
  BoxView view;
  view.caption = WindowText(box);
  view.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  if (HWND owner = GetWindow(box, GW_OWNER)) view.owner_class = WindowClass(owner);
  GetWindowRect(box, &view.rect);

  HWND icon = nullptr;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string cls = WindowClass(child);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (cls == "Button") {
      view.buttons.emplace_back(GetDlgCtrlID(child), WindowText(child));
    } else if (cls == "Static") {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        icon = child;
      } else {
        const std::string text = WindowText(child);
        if (!text.empty() || view.text.empty()) view.text = text;
      }
    }
  }
  view.icon = "none";
  if (icon) {
    RECT r;
    GetWindowRect(icon, &r);
    view.icon = IdentifyIcon(CaptureScreen(r), view.icon_difference);
  }
  return view;
}

int SafestButton(const BoxView& box) {
  for (int wanted : {IDCANCEL, IDNO, IDOK})
    for (const auto& [id, label] : box.buttons)
      if (id == wanted) return id;
  return box.buttons.empty() ? IDCANCEL : box.buttons.front().first;
}

void PressButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace vardplay
