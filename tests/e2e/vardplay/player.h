// Plays one scenario: prepares the registry and the named mutexes, starts the program,
// answers every message box it shows, and reports what happened as JSON.
#pragma once

#include "json.h"
#include "play_script.h"

namespace vardplay {

// Runs the script to the end (the program exited or was killed at the time-out) and
// writes the whole report object. Returns false when the scenario could not be played
// (the registry refused a write, or the program did not start); the report says why.
bool Play(const Script& script, JsonWriter& json);

}  // namespace vardplay
