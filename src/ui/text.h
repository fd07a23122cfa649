// Localized texts from the executable's string table and the message boxes that show
// them, with their buttons relabelled in the same language. The language is chosen once
// per process from the installation language in the registry. ShowMessage and the first
// lookup belong to the main thread; ShowFatalError may run on any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vard {

using TextId = std::uint16_t;

// On the first call reads the installation language (the patch configuration's
// reg_language; may build the configuration and pass its exceptions on) and fixes the
// text language; returns whether the installation language was a known one. Later calls
// return the first result without reading anything.
bool ChooseLanguage();

// The text in the chosen language; empty when the table has no such text in it (no other
// language is tried). Chooses the language first when that has not happened yet.
std::wstring LoadText(TextId id);

// A modal box with texts caption and text, MessageBoxW flags style, buttons relabelled
// from the table, owned by the progress window while it exists. Returns the pressed
// button (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
int ShowMessage(TextId caption, TextId text, UINT style);

// The fixed English box "An internal error has occured." / "Error!" (only its OK button is
// localized). No owner; any thread.
int ShowFatalError();

// The thread-local CBT hook installed for each box: at the box's activation relabels its
// OK, Cancel, Retry, No and Yes buttons and removes itself.
LRESULT CALLBACK RelabelButtonsHook(int code, WPARAM wparam, LPARAM lparam);

}  // namespace vard
