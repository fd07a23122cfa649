#include "mkpatch/common/name_case.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/paths.h"
#include "base/text.h"

namespace vard::mkpatch {
namespace {

struct UpcasePair {
  uint16_t unit, upper;
};

constexpr UpcasePair kUpcase[] = {
#include "mkpatch/common/upcase_table.inc"
};

}  // namespace

wchar_t UpcaseUnit(wchar_t unit) {
  if (unit < L'a') return unit;
  if (unit <= L'z') return static_cast<wchar_t>(unit - L'a' + L'A');
  if (unit > 0xFFFF) return unit;
  const auto it = std::lower_bound(std::begin(kUpcase), std::end(kUpcase), unit,
                                   [](const UpcasePair& p, wchar_t u) { return p.unit < u; });
  return it != std::end(kUpcase) && it->unit == unit ? static_cast<wchar_t>(it->upper) : unit;
}

std::wstring UpcaseWide(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& unit : out) unit = UpcaseUnit(unit);
  return out;
}

std::wstring NameKey(const std::string& utf8_path) {
  return UpcaseWide(NormalizeSubPath(Utf8ToWide(utf8_path)));
}

}  // namespace vard::mkpatch
