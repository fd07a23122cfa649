// Guards on named mutexes of the global namespace: one against a second running patcher,
// one against patching while the game runs. Handles a guard keeps are held until the
// process exits. Main thread.
#pragma once

namespace vard {

// Creates "Global\KORAX_Patch". True when this process now holds the name (or when the
// mutex could not be created at all); false when another patcher already holds it, in
// which case this process's handle is closed again.
bool ClaimInstance();

// While "Global\KORAX_Running" exists, waits 2 s and asks the player (Retry/Cancel box,
// texts 203 and 205) until the game has quit or the player cancels. Then, unless the player
// cancelled while the game still ran, creates and holds "Global\KORAX_Running",
// "Global\KORAX DEMO" and "Global\KORAX". True when patching may go on, false after Cancel.
bool WaitForGameExit();

}  // namespace vard
