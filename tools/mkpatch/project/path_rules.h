// What a path inside a patch may look like: names the installed game's file system can hold
// and the patcher's path cleaning leaves unchanged. Both the project's pack roots and every
// file found in the trees pass through here before anything is built.
#pragma once

#include <string>

namespace vard::mkpatch {

// Empty when `name` is a file or folder name Windows can store, else the reason: empty, "."
// or "..", control characters or any of <>:"/\|?*, a trailing dot or space, a reserved
// device name (CON, NUL, COM1, ...), or text that is not UTF-8.
std::string WindowsNameProblem(const std::string& name);

// Splits a relative path on '/' and '\' and checks every component; empty when all is well.
// Runs of separators and a leading or trailing separator are accepted (they are cleaned).
std::string RelativePathProblem(const std::string& path);

// The pack root as the main manifest carries it: components joined by single backslashes,
// no leading or trailing separator ("local/french/" becomes "local\french").
std::string CleanPackRoot(const std::string& root);

// Upper-cased ASCII copy, for the case-insensitive name comparisons Windows makes.
std::string FoldCase(const std::string& text);

}  // namespace vard::mkpatch
