// The choice of the text language from the installation language the game's installer
// stored, falling back to the player's default language. Pure mapping, portable.
#pragma once

#include <cstdint>

namespace vard {

// A Windows LANGID; 0 (neutral) selects the English table.
using LangId = std::uint16_t;

struct LanguageChoice {
  LangId text_language = 0;
  bool known = false;  // the installation language was one of the game's five
};

// Maps the installation language value: 7 German (1031), 9 English (neutral), 10 Spanish
// (3082), 16 Italian (1040) and the full LANGID 1036 French are known; any other value (0
// for a missing one, 12 included) takes user_default, not known. A language without a
// table (anything but 0, 1031, 1036, 1040, 3082) becomes the English table.
LanguageChoice MapInstallLanguage(std::uint32_t value, LangId user_default);

}  // namespace vard
