#include "ui/language.h"

#include <gtest/gtest.h>

namespace vard {
namespace {

TEST(MapInstallLanguage, TheFiveInstallationLanguagesAreKnown) {
  struct { std::uint32_t value; LangId text; } const cases[] = {
      {7, 1031}, {9, 0}, {10, 3082}, {16, 1040}, {1036, 1036}};
  for (const auto& c : cases) {
    // The player's default must not matter for a known installation language.
    const LanguageChoice choice = MapInstallLanguage(c.value, 1040);
    EXPECT_TRUE(choice.known) << c.value;
    EXPECT_EQ(choice.text_language, c.text) << c.value;
  }
}

TEST(MapInstallLanguage, OtherValuesFallBackToThePlayersDefault) {
  // French as the primary language number 12 is not one of the game's values.
  LanguageChoice choice = MapInstallLanguage(12, 1036);
  EXPECT_FALSE(choice.known);
  EXPECT_EQ(choice.text_language, 1036);
  choice = MapInstallLanguage(0, 1031);  // a missing value reads as 0
  EXPECT_FALSE(choice.known);
  EXPECT_EQ(choice.text_language, 1031);
  choice = MapInstallLanguage(0x0409, 3082);  // a full English LANGID is not value 9
  EXPECT_FALSE(choice.known);
  EXPECT_EQ(choice.text_language, 3082);
}

TEST(MapInstallLanguage, DefaultsWithoutATableGiveEnglish) {
  EXPECT_EQ(MapInstallLanguage(0, 1033).text_language, 0);  // English (United States)
  EXPECT_EQ(MapInstallLanguage(0, 2055).text_language, 0);  // German (Switzerland)
  EXPECT_EQ(MapInstallLanguage(0, 7).text_language, 0);     // a bare primary language
  EXPECT_FALSE(MapInstallLanguage(0, 1033).known);
}

}  // namespace
}  // namespace vard
