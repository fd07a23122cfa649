// What a path inside a patch may look like: names the installed game's file system can hold
// and the patcher's path cleaning leaves unchanged. Both the project's pack roots and every
// file found in the trees pass through here before anything is built.
#pragma once

#include <string>

namespace vard::mkpatch {

// Empty when `name` is a file or folder name Windows can store, else the reason: empty, "."
// or "..", control characters or any of <>:"/\|?*, a trailing dot or space, a reserved
// device name (CON, NUL, COM1 to COM9, COM¹ to COM³, LPT likewise, with any extension), or
// text that is not UTF-8.
std::string WindowsNameProblem(const std::string& name);

// Empty when `key` is a registry key path the patcher can open below HKEY_LOCAL_MACHINE,
// else the reason: empty, not ASCII (the patcher opens keys with the narrow calls, which
// read them in the player's code page), beginning with a backslash, or naming a hive.
std::string RegistryKeyProblem(const std::string& key);
// Empty when `name` is a value name the patcher can read and write: not empty (an empty
// name turns every read and write of the location into nothing) and ASCII.
std::string RegistryValueNameProblem(const std::string& name);

// Splits a relative path on '/' and '\' and checks every component; empty when all is well.
// Runs of separators and a leading or trailing separator are accepted (they are cleaned).
std::string RelativePathProblem(const std::string& path);

// The pack root as the main manifest carries it: components joined by single backslashes,
// no leading or trailing separator ("local/french/" becomes "local\french").
std::string CleanPackRoot(const std::string& root);

// Upper-cased ASCII copy, for the case-insensitive name comparisons Windows makes.
std::string FoldCase(const std::string& text);

}  // namespace vard::mkpatch
