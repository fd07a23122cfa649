// Generated inputs for the manifest readers' replay: hostile shapes too large for the
// corpus (a main manifest nested 100,000 deep, one element with 80,000 attributes), and
// texts that try to hide a nesting of 2,000 from the shape check behind markup the parser
// reads differently (quotes, character references, UTF-8 lead bytes, the declaration).
#include <string>

#include "test_support/fuzz_replay.h"

namespace vard::test {

namespace {

std::vector<std::uint8_t> Input(const std::string& main_manifest) {
  std::string input = "\x09" + main_manifest;  // English
  return std::vector<std::uint8_t>(input.begin(), input.end());
}

std::string Repeat(const std::string& piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

}  // namespace

std::size_t ReplayGeneratedInputs(ReplayInput run) {
  std::string wide = "<patch";
  for (int i = 0; i < 80000; ++i) wide += " a" + std::to_string(i) + "=\"\"";
  const std::string inputs[] = {
      Repeat("<patch>", 100000),
      wide + "/>",
      Repeat("<patch v=\"/>\">", 2000),
      Repeat("<patch v=\"&#x\"/>x41;\">", 2000),
      "\xEF\xBB\xBF" + Repeat("<patch v=\"\xC3\"/>\">", 2000),
      "<?xml a=\" version=\" ><!--\" ?>" + Repeat("<patch>", 2000) + "-->",
      Repeat("<patch>&#x</patch>x41;", 2000),
  };
  for (const std::string& text : inputs) run(Input(text));
  return sizeof inputs / sizeof inputs[0];
}

}  // namespace vard::test
