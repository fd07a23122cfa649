#include "base/paths.h"

#include <string_view>

namespace vard {

namespace {
bool IsSeparator(wchar_t unit) { return unit == L'/' || unit == L'\\'; }
}  // namespace

bool IsNetworkPath(const std::wstring& path) {
  return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         !IsSeparator(path[2]);
}

std::wstring NormalizePath(const std::wstring& path, bool keep_trailing, bool keep_leading) {
  std::wstring out;
  out.reserve(path.size() + 1);
  bool previous_was_separator = !keep_leading;
  std::size_t start = 0;
  if (IsNetworkPath(path)) {
    // Without its two separators \\server\share\x would name a folder of the current drive.
    out = L"\\\\";
    start = 2;
    previous_was_separator = true;
  }
  for (wchar_t unit : std::wstring_view(path).substr(start)) {
    if (unit == L'/') unit = L'\\';
    const bool is_separator = unit == L'\\';
    if (!(is_separator && previous_was_separator)) out.push_back(unit);
    previous_was_separator = is_separator;
  }
  if (!out.empty()) {
    const bool ends_in_separator = out.back() == L'\\';
    if (ends_in_separator && !keep_trailing) out.pop_back();
    if (!ends_in_separator && keep_trailing) out.push_back(L'\\');
  }
  return out;
}

std::wstring NormalizeSubPath(const std::wstring& path) {
  const std::size_t first = path.find_first_not_of(L"/\\");
  if (first == std::wstring::npos) return std::wstring();
  return NormalizePath(path.substr(first), false, false);
}

namespace {
std::wstring::size_type LastSeparator(const std::wstring& path) {
  return path.find_last_of(L"/\\");
}
}  // namespace

std::wstring DirectoryPart(const std::wstring& path) {
  const auto at = LastSeparator(path);
  if (at == std::wstring::npos) return std::wstring();
  return path.substr(0, at + 1);
}

std::wstring FileNamePart(const std::wstring& path) {
  const auto at = LastSeparator(path);
  if (at == std::wstring::npos) return path;
  return path.substr(at + 1);
}

}  // namespace vard
