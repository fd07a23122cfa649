// Generated inputs for the diff decoder's replay, from a fixed seed: rich in escapes,
// command bytes and number prefixes, which the small hand-made seed corpus only samples.
#include <random>

#include "test_support/fuzz_replay.h"

namespace vard::test {

std::size_t ReplayGeneratedInputs(ReplayInput run) {
  static const std::uint8_t kAlphabet[] = {0xA7, 0xA7, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0x00,
                                           0x01, 0x05, 0xFC, 0xFD, 0xFE, 0xFF, 0x41, 0xA8};
  constexpr std::size_t kRounds = 50000;
  std::mt19937 rng(6);
  for (std::size_t round = 0; round < kRounds; ++round) {
    std::vector<std::uint8_t> input(1 + rng() % 48);
    input[0] = static_cast<std::uint8_t>(rng() % 24);
    for (std::size_t i = 1; i < input.size(); ++i) {
      input[i] = rng() % 4 ? kAlphabet[rng() % sizeof kAlphabet] : static_cast<std::uint8_t>(rng());
    }
    run(input);
  }
  return kRounds;
}

}  // namespace vard::test
