#include "base/staging_names.h"

namespace vard {

std::wstring StagingPath(const std::wstring& target, StagingRole role) {
  switch (role) {
    case StagingRole::Payload:
      return target + L".vard-new";
    case StagingRole::Rebuilt:
      return target + L".vard-undiff";
    case StagingRole::CompressedCopy:
      return target + L".vard-comp";
  }
  return target + L".vard-new";
}

bool IsStagingName(const std::wstring& given) {
  // Windows drops trailing dots and spaces from a name: "a.vard-new. " is "a.vard-new".
  std::wstring name = given;
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  const std::wstring::size_type dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  static const wchar_t kMark[] = L"vard-";
  for (std::size_t i = 0; i < 5; ++i) {
    const std::size_t at = dot + 1 + i;
    if (at >= name.size()) return false;
    wchar_t unit = name[at];
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit - L'A' + L'a');
    if (unit != kMark[i]) return false;
  }
  return true;
}

}  // namespace vard
