#include "ui/string_block.h"

#include <gtest/gtest.h>

#include <vector>

namespace vard {
namespace {

// A block in the resource layout: 16 entries of count and units.
std::vector<std::uint16_t> Block(const std::vector<std::u16string>& texts) {
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i < 16; ++i) {
    const std::u16string text = i < texts.size() ? texts[i] : u"";
    units.push_back(static_cast<std::uint16_t>(text.size()));
    units.insert(units.end(), text.begin(), text.end());
  }
  return units;
}

TEST(StringBlockEntry, WalksToTheEntryOfTheIndex) {
  const auto block = Block({u"", u"", u"", u"", u"", u"", u"", u"", u"Initializing..", u"PATCH",
                            u"V", u"Fehler!", u"\u00bfS\u00ed?"});
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 8), L"Initializing..");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 9), L"PATCH");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 12), std::wstring(L"\u00bfS\u00ed?"));
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 7), L"");   // undefined entry
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 15), L"");
  EXPECT_EQ(StringBlockEntry(block.data(), block.size(), 16 + 9), L"PATCH");  // id mod 16
}

TEST(StringBlockEntry, NeverReadsPastTheBlock) {
  auto block = Block({u"Ok", u"Cancel"});
  // A block that ends before the entry.
  EXPECT_EQ(StringBlockEntry(block.data(), 3, 1), L"");
  EXPECT_EQ(StringBlockEntry(block.data(), 3, 5), L"");
  // A count that claims more units than the block holds.
  std::vector<std::uint16_t> cut = {2, u'O', u'k', 40, u'C'};
  EXPECT_EQ(StringBlockEntry(cut.data(), cut.size(), 1), L"");
  EXPECT_EQ(StringBlockEntry(cut.data(), cut.size(), 0), L"Ok");
  EXPECT_EQ(StringBlockEntry(nullptr, 0, 0), L"");
}

}  // namespace
}  // namespace vard
