// Pixels of the screen as the X server shows them (through the desktop's device context),
// saved as BMP files for the scenario to check, and used to tell a box's icon apart.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vardplay {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> bgrx;  // top-down rows, 0x00RRGGBB
};

// Copies a rectangle of the screen; empty pixels when the copy fails.
Pixels CaptureScreen(const RECT& area);

// Writes a 24-bit bottom-up BMP, the form every reader takes.
bool WriteBmp(const Pixels& pixels, const std::wstring& path);

// Names the standard message-box icon ("error", "information", "warning", "question")
// that best matches the pixels of an icon control, and gives the mean difference per
// channel of that match (0 for an exact one); "" when nothing could be compared.
std::string IdentifyIcon(const Pixels& shown, double& mean_difference);

}  // namespace vardplay
