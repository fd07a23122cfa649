#include "ui/language.h"

namespace vard {

LanguageChoice MapInstallLanguage(std::uint32_t value, LangId user_default) {
  LanguageChoice choice;
  choice.known = true;
  switch (value) {
    case 7: choice.text_language = 1031; break;
    case 9: choice.text_language = 0; return choice;
    case 10: choice.text_language = 3082; break;
    case 16: choice.text_language = 1040; break;
    case 1036: choice.text_language = 1036; break;
    default:
      choice.text_language = user_default;
      choice.known = false;
      break;
  }
  switch (choice.text_language) {
    case 0: case 1031: case 1036: case 1040: case 3082: break;
    default: choice.text_language = 0; break;  // no table: English
  }
  return choice;
}

}  // namespace vard
