// Conversion of the manifests' narrow UTF-8 texts into the wide strings that every path
// and visible text uses. Portable: std::wstring holds UTF-16 code units on every platform.
#pragma once

#include <string>

namespace vard {

// Decodes NUL-terminated UTF-8 into one 16-bit unit per sequence (code points above
// U+FFFF keep their low 16 bits; no surrogate pairs). Continuation bytes are taken by their
// low six bits without checking. Malformed input never stalls and never reads past the
// terminator: a stray byte yields U+FFFD, a sequence cut short by the NUL ends the text.
std::wstring Utf8ToWide(const char* text);
inline std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

}  // namespace vard
