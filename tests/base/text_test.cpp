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
  // Four-byte sequences become surrogate pairs: U+1F600, U+10000, U+10FFFF.
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80!"), Units({0xD83D, 0xDE00, '!'}));
  EXPECT_EQ(Utf8ToWide("Saves\xF0\x90\x80\x80"), Units({'S', 'a', 'v', 'e', 's', 0xD800, 0xDC00}));
  EXPECT_EQ(Utf8ToWide("\xF4\x8F\xBF\xBF"), Units({0xDBFF, 0xDFFF}));
  EXPECT_TRUE(IsExactUtf8("Caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC"));
}

// The low 16 bits of U+10000 and U+2002F are a NUL and a '/': no sequence may turn into a
// NUL or a separator, or a name would end early or reach into another folder. Only the
// single bytes '/' and '\' are separators; everything else that is not one character in
// its shortest form becomes U+FFFD and fails IsExactUtf8.
TEST(Utf8ToWide, NoSequenceBecomesANulOrASeparator) {
  for (const char* bad : {"\xC0\x80", "\xC0\xAF", "\xC1\x9C", "\xE0\x80\xAF", "\xF0\x80\x80\x80",
                          "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF", "\xED\xA0\x80", "\x80"}) {
    EXPECT_EQ(Utf8ToWide(bad), Units({0xFFFD})) << bad;
    EXPECT_FALSE(IsExactUtf8(bad)) << bad;
  }
  // Every four-byte value: never a unit that is NUL, '/' or '\'.
  for (unsigned code = 0; code < 0x200000; ++code) {
    const char bytes[] = {static_cast<char>(0xF0 | (code >> 18)), static_cast<char>(0x80 | ((code >> 12) & 0x3F)),
                          static_cast<char>(0x80 | ((code >> 6) & 0x3F)), static_cast<char>(0x80 | (code & 0x3F)), 0};
    for (wchar_t unit : Utf8ToWide(bytes)) {
      ASSERT_TRUE(unit != 0 && unit != L'/' && unit != L'\\') << std::hex << code;
    }
  }
  EXPECT_FALSE(IsExactUtf8("\xC3\x41"));  // a continuation byte that is none
  EXPECT_FALSE(IsExactUtf8("x\xE2\x82"));   // cut short
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
