#include "base/text.h"

namespace vard {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the sequence at p and moves p past it. The result is kReplacement for a
// sequence that is not one character in its shortest form, and 0 when the terminator cut
// the sequence short (p then rests on the terminator). exact tells whether the sequence
// was well-formed to the last bit.
char32_t DecodeOne(const unsigned char*& p, bool& exact) {
  const unsigned lead = *p++;
  int extra;
  char32_t code;
  char32_t smallest;
  if (lead < 0x80) {
    exact = true;
    return lead;
  } else if (lead >= 0xC0 && lead <= 0xDF) {
    extra = 1, code = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, code = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    extra = 3, code = lead & 0x07, smallest = 0x10000;
  } else {
    // A continuation byte or 0xF8-0xFF where a sequence should begin.
    exact = false;
    return kReplacement;
  }
  exact = true;
  for (int i = 0; i < extra; ++i) {
    if (*p == 0) return 0;  // cut short by the terminator: never read past it
    exact = exact && (*p & 0xC0u) == 0x80;
    code = (code << 6) | (*p & 0x3Fu);
    ++p;
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    exact = false;
    return kReplacement;
  }
  return code;
}

}  // namespace

std::wstring Utf8ToWide(const char* text) {
  std::wstring out;
  if (text == nullptr) return out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    bool exact = false;
    const char32_t code = DecodeOne(p, exact);
    if (code == 0) break;
    if (code > 0xFFFF) {
      const char32_t above = code - 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (above >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (above & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
  }
  return out;
}

bool IsExactUtf8(const char* text) {
  if (text == nullptr) return true;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    bool exact = false;
    if (DecodeOne(p, exact) == 0 || !exact) return false;
  }
  return true;
}

}  // namespace vard
