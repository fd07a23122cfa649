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

std::size_t VolumeEnd(const std::wstring& path) {
  std::size_t at = 0;
  std::size_t names = 1;
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
    at = 4;
    if (path.compare(4, 4, L"UNC\\") == 0) {
      at = 8;
      names = 2;
    }
  } else if (IsNetworkPath(path)) {
    at = 2;
    names = 2;
  } else if (path.size() >= 2 && path[1] == L':' && (path[0] | 0x20) >= L'a' &&
             (path[0] | 0x20) <= L'z') {
    return 2;
  } else {
    return std::wstring::npos;
  }
  for (std::size_t i = 0; i < names; ++i) {
    const std::size_t end = path.find(L'\\', at);
    if (end == at) return std::wstring::npos;
    if (end == std::wstring::npos) return i + 1 == names ? path.size() : std::wstring::npos;
    at = i + 1 == names ? end : end + 1;
  }
  return at;
}

std::wstring LongPathForm(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (VolumeEnd(path) == std::wstring::npos) return std::wstring();
  if (path.rfind(L"\\\\.\\", 0) == 0) return std::wstring();  // devices, not files
  if (IsNetworkPath(path)) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

}  // namespace vard
