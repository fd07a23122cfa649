// Conversion of the manifests' narrow UTF-8 texts into the wide strings that every path
// and visible text uses. Portable: std::wstring holds UTF-16 code units on every platform.
#pragma once

#include <string>

namespace vard {

// Decodes NUL-terminated UTF-8 into UTF-16: one unit per sequence, and a surrogate pair
// for a code point above U+FFFF. Continuation bytes are taken by their low six bits
// without checking. The result never holds a NUL, and holds '/' or '\' only where the
// text has those very bytes: a sequence that would decode to anything else than one
// character in its shortest form (an overlong form such as C0 80 or C0 AF, a value above
// U+10FFFF, a surrogate) yields U+FFFD, as does a stray byte where a sequence should
// begin. Never stalls and never reads past the terminator: a sequence cut short by the
// NUL ends the text.
std::wstring Utf8ToWide(const char* text);
inline std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

// True when text is well-formed UTF-8 (continuation bytes checked too), so that
// Utf8ToWide gives every character as written and substitutes nothing. Names that the
// patch acts on must pass this: a name that decodes otherwise names some other file.
bool IsExactUtf8(const char* text);

}  // namespace vard
