#include "base/text.h"

namespace vard {

std::wstring Utf8ToWide(const char* text) {
  std::wstring out;
  if (text == nullptr) return out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned lead = *p;
    int extra;
    unsigned code;
    if (lead < 0x80) {
      extra = 0;
      code = lead;
    } else if (lead >= 0xC0 && lead <= 0xDF) {
      extra = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      extra = 3;
      code = lead & 0x07;
    } else {
      // A continuation byte or 0xF8-0xFF where a sequence should begin.
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++p;
      continue;
    }
    ++p;
    for (int i = 0; i < extra; ++i) {
      if (*p == 0) return out;  // cut short by the terminator: stop, never read past it
      code = (code << 6) | (*p & 0x3Fu);
      ++p;
    }
    out.push_back(static_cast<wchar_t>(code & 0xFFFFu));
  }
  return out;
}

}  // namespace vard
