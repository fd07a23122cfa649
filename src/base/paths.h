// Path text helpers shared by every subsystem: separator normalisation and splitting a
// path into its directory and file-name parts. Pure string work, portable.
#pragma once

#include <string>

namespace vard {

// Turns '/' into '\' and collapses runs of separators. With keep_leading false a leading
// run disappears; with it true it becomes one '\'. A non-empty result ends in exactly one
// '\' when keep_trailing is true and in none when it is false. Empty input stays empty.
std::wstring NormalizePath(const std::wstring& path, bool keep_trailing, bool keep_leading);

// The path up to and including its last separator ('/' or '\', whichever stands later);
// empty when the path holds no separator.
std::wstring DirectoryPart(const std::wstring& path);

// The path after its last separator; the whole path when it holds none.
std::wstring FileNamePart(const std::wstring& path);

}  // namespace vard
