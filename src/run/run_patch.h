// One patching run, from the splash to the final box, and the guard that turns every fault
// escaping it into the fatal box and exit code -1. Main thread.
#pragma once

#include "ui/text.h"

namespace vard {

// Installs the fatal fault handlers, runs RunPatch, and sends any exception leaving it down
// the fatal path; restores the previous unhandled-exception filter afterwards.
void RunGuarded();

// The run: splash, instance guard, title, progress window, confirmation, game guard,
// registry checks and version decision, selection, verification, free space, application,
// new version in the registry, save removal, success. Every outcome ends in one box (or
// the player's No or Cancel) and returns; faults of the embedded data are exceptions.
void RunPatch();

// Stops any sound the process still plays.
void StopSounds();

// Box with caption 203 and the text in the error style (topmost, error icon), then
// StopSounds and StopUi.
void ReportError(TextId text);

// The same in the notice style (topmost, information icon).
void ReportNotice(TextId text);

}  // namespace vard
