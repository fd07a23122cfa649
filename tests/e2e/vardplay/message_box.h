// Reads a message box of another process as the player sees it: caption, body text, the
// visible buttons with their ids and labels, the icon, whether it stays on top and which
// window owns it; and presses one of its buttons.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace vardplay {

struct BoxView {
  std::string caption;
  std::string text;
  std::vector<std::pair<int, std::string>> buttons;  // control id, label; in tab order
  std::string icon;            // see IdentifyIcon; "none" when the box has no icon
  double icon_difference = 0;  // mean difference per channel of the icon match
  bool topmost = false;
  std::string owner_class;     // window class of the owner; "" for an unowned box
  RECT rect{};
};

BoxView ReadBox(HWND box);

// The button a scripted answer would press when the script names none: Cancel, No or
// OK, whichever the box has, in that order; else its first button.
int SafestButton(const BoxView& box);

// Presses a button the way a click does (the dialog gets WM_COMMAND/BN_CLICKED).
void PressButton(HWND box, int id);

std::string WindowClass(HWND window);
std::string WindowText(HWND window);

}  // namespace vardplay
