// File names as Windows compares them: without regard to case, by upper-casing every UTF-16
// unit through a table (the simple upper-case mapping of the Basic Multilingual Plane,
// generated at build time by make_upcase_table.py). mkpatch pairs old and new names, finds
// clashes and models the installation with these keys, so that two names the patcher's file
// system takes for one are one name here too.
#pragma once

#include <string>

namespace vard::mkpatch {

// The unit's simple upper case; units without one (digits, surrogates, capitals) unchanged.
wchar_t UpcaseUnit(wchar_t unit);

// Every unit upper-cased.
std::wstring UpcaseWide(const std::wstring& text);

// The key of a relative UTF-8 path as the patcher finds it: converted by the patcher's own
// Utf8ToWide, separators cleaned by its NormalizeSubPath (either slash, no leading or trailing
// one), then upper-cased. "Data/Ä.txt" and "data\ä.TXT" have the same key.
std::wstring NameKey(const std::string& utf8_path);

}  // namespace vard::mkpatch
