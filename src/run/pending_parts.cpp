// Interim definitions of the run's collaborators that other subsystems provide. Each one is
// deleted from this file when its subsystem's real function lands.
#include <windows.h>

#include "ui/text.h"
#include "ui/ui_state.h"
#include "ui/windows_ui.h"

namespace vard {

// Replaced when the splash window lands.
void ShowSplash() {}

// Replaced when the progress window lands.
void StartUi() {}

// Replaced when the progress window lands; sets the closing state only.
void StopUi() {
  SetStatusText(LoadText(206));
  SetDetailText(L"");
  SetTotalProgress(1.0f);
}

// Replaced when the progress window lands.
HWND CurrentProgressWindowHandle() { return nullptr; }

}  // namespace vard
