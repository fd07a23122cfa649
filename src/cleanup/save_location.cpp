#include "cleanup/save_location.h"

namespace vard {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:" at the start, alone or followed by a separator.
bool DriveAt(const std::wstring& path, std::size_t at, wchar_t& drive) {
  if (path.size() < at + 2 || path[at + 1] != L':') return false;
  if (path.size() > at + 2 && !IsSeparator(path[at + 2])) return false;
  const wchar_t letter = path[at] & ~0x20;
  if (letter < L'A' || letter > L'Z') return false;
  drive = letter;
  return true;
}

bool StartsWithIgnoringCase(const std::wstring& path, std::size_t at, const wchar_t* word) {
  for (std::size_t i = 0; word[i] != 0; ++i) {
    if (at + i >= path.size() || (path[at + i] | 0x20) != (word[i] | 0x20)) return false;
  }
  return true;
}

}  // namespace

bool IsLocalLocation(const std::wstring& full_path, wchar_t& drive) {
  drive = 0;
  if (DriveAt(full_path, 0, drive)) return true;
  // Device paths: "\\?\", "\\.\" and the object manager's "\??\".
  const bool device = full_path.size() >= 4 && IsSeparator(full_path[0]) &&
                      (IsSeparator(full_path[1]) || full_path[1] == L'?') &&
                      (full_path[2] == L'?' || full_path[2] == L'.') && IsSeparator(full_path[3]);
  if (!device) return false;
  if (DriveAt(full_path, 4, drive)) return true;
  return StartsWithIgnoringCase(full_path, 4, L"Volume{");
}

}  // namespace vard
