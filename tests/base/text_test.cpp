#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vard {
namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring s;
  for (unsigned u : units) s.push_back(static_cast<wchar_t>(u));
  return s;
}

TEST(Utf8ToWide, DecodesOneUnitPerSequence) {
  EXPECT_EQ(Utf8ToWide("Caf\xC3\xA9"), Units({0x43, 0x61, 0x66, 0xE9}));
  EXPECT_EQ(Utf8ToWide(""), std::wstring());
  EXPECT_EQ(Utf8ToWide("local/french"), L"local/french");
  // Three-byte forms: the typographic apostrophe and the euro sign.
  EXPECT_EQ(Utf8ToWide("l\xE2\x80\x99" "a"), Units({'l', 0x2019, 'a'}));
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), Units({0x20AC}));
  // A four-byte sequence keeps the low 16 bits of its code point (U+1F600 -> 0xF600).
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80!"), Units({0xF600, '!'}));
  // Overlong forms decode by the same formulas.
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), Units({0x2F}));
}

TEST(Utf8ToWide, MalformedInputNeitherStallsNorReadsPastTheTerminator) {
  // Stray continuation bytes and 0xF8-0xFF lead bytes each yield one unit and move on.
  EXPECT_EQ(Utf8ToWide("a\x80" "b\xFF" "c").size(), 5u);
  EXPECT_EQ(Utf8ToWide("a\x80" "b").substr(0, 1), L"a");
  EXPECT_EQ(Utf8ToWide("a\x80" "b").back(), L'b');
  // Sequences cut short by the NUL: the bytes after the terminator are never read. The
  // buffer holds a sentinel after the NUL that would show up if they were.
  const char cut2[] = {'x', '\xC3', '\0', 'Z', 'Z', '\0'};
  EXPECT_EQ(Utf8ToWide(cut2), L"x");
  const char cut3[] = {'x', '\xE2', '\x80', '\0', 'Z', 'Z', '\0'};
  EXPECT_EQ(Utf8ToWide(cut3), L"x");
  const char cut4[] = {'\xF0', '\x9F', '\x98', '\0', 'Z', 'Z', 'Z', '\0'};
  EXPECT_EQ(Utf8ToWide(cut4), L"");
  EXPECT_EQ(Utf8ToWide(static_cast<const char*>(nullptr)), L"");
}

TEST(Utf8ToWide, EveryByteValueTerminates) {
  // Each lone byte, and each byte followed by garbage, decodes to a bounded result.
  for (int b = 1; b < 256; ++b) {
    const char one[] = {static_cast<char>(b), '\0'};
    EXPECT_LE(Utf8ToWide(one).size(), 1u) << b;
    const char two[] = {static_cast<char>(b), '\xBF', '\xBF', '\xBF', '\0'};
    EXPECT_LE(Utf8ToWide(two).size(), 4u) << b;
  }
}

}  // namespace
}  // namespace vard
