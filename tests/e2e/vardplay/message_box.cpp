#include "message_box.h"

#include <utility>

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

namespace {

// Whether the window or one of its visible children still waits for WM_PAINT.
bool PaintPending(HWND box) {
  if (GetUpdateRect(box, nullptr, FALSE)) return true;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) return true;
  return false;
}

bool Same(const Pixels& a, const Pixels& b) {
  return a.width == b.width && a.height == b.height && a.bgrx == b.bgrx;
}

// Waits (at most 10 s) until the box has painted itself. A box is visible before its
// thread has relabelled and painted it (under load, for a long while), and until then the
// screen shows whatever lay there before, often another box.
void AwaitPaint(HWND box) {
  for (int i = 0; i < 500 && IsWindow(box) && PaintPending(box); ++i) Sleep(20);
}

// The area's pixels once two captures 100 ms apart agree (at most 5 s): the program's
// thread hands what it painted to the X server when it next waits for messages.
Pixels SettledPixels(const RECT& area) {
  Pixels shown = CaptureScreen(area);
  for (int i = 0; i < 50; ++i) {
    Sleep(100);
    Pixels again = CaptureScreen(area);
    if (Same(shown, again)) break;
    shown = std::move(again);
  }
  return shown;
}

}  // namespace

BoxView ReadBox(HWND box) {
  AwaitPaint(box);
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
    view.icon = IdentifyIcon(SettledPixels(r), view.icon_difference);
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
