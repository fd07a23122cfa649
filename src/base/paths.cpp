#include "base/paths.h"

namespace vard {

std::wstring NormalizePath(const std::wstring& path, bool keep_trailing, bool keep_leading) {
  std::wstring out;
  out.reserve(path.size() + 1);
  bool previous_was_separator = !keep_leading;
  for (wchar_t unit : path) {
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
