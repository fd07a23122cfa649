// Path text helpers shared by every subsystem: separator normalisation and splitting a
// path into its directory and file-name parts. Pure string work, portable.
#pragma once

#include <string>

namespace vard {

// Turns '/' into '\' and collapses runs of separators. With keep_leading false a leading
// run disappears; with it true it becomes one '\'. A network path (IsNetworkPath) keeps
// its two leading separators whatever the flag. A non-empty result ends in exactly one
// '\' when keep_trailing is true and in none when it is false. Empty input stays empty.
std::wstring NormalizePath(const std::wstring& path, bool keep_trailing, bool keep_leading);

// A path below a root (a pack root or a sub-path of a manifest): NormalizePath with both
// flags false, except that a leading run of separators always goes, so that it never
// names a network share of its own.
std::wstring NormalizeSubPath(const std::wstring& path);

// True for a path that starts with exactly two separators ('/' or '\') and then a name:
// \\server\share\... (also the \\?\ and \\.\ forms).
bool IsNetworkPath(const std::wstring& path);

// The path up to and including its last separator ('/' or '\', whichever stands later);
// empty when the path holds no separator.
std::wstring DirectoryPart(const std::wstring& path);

// The path after its last separator; the whole path when it holds none.
std::wstring FileNamePart(const std::wstring& path);

// Where the part of an absolute path naming its volume ends: after "C:", "\\server\share",
// "\\?\C:", "\\?\UNC\server\share" or "\\?\Volume{...}". npos for any other path.
std::size_t VolumeEnd(const std::wstring& path);

// The long-path form of an absolute, normalised path ("C:\x" or "\\server\share\x"):
// "\\?\C:\x", "\\?\UNC\server\share\x". The system takes such a path as it stands, with
// no length limit, so it must already be absolute and free of "." and ".." parts. A path
// already in that form is returned as it is; empty for any other path (relative ones).
std::wstring LongPathForm(const std::wstring& path);

}  // namespace vard
