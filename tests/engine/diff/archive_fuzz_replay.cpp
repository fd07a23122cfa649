// Generated inputs for the archive-diff decoder's replay, from a fixed seed: structured
// inputs with a few entries over a small old file, most with empty content so that some
// entries pass their checks and the ones after them are reached.
#include <random>

#include "engine/diff/diff_fuzz_input.h"
#include "test_support/fuzz_replay.h"

namespace vard::test {

std::size_t ReplayGeneratedInputs(ReplayInput run) {
  constexpr std::size_t kRounds = 600;
  std::mt19937 rng(27);
  for (std::size_t round = 0; round < kRounds; ++round) {
    std::vector<std::uint8_t> input;
    const std::size_t at = RandomDiffFuzzInput(rng, input, 8, 120);
    if (at + 3 >= input.size()) continue;
    input[at] &= 0xFE;                                      // structured
    input[at + 1] %= 8;                                     // skeleton bytes
    input[at + 2] %= 4;                                     // entries
    input[at + 3] %= 6;                                     // command triples
    // Entries of empty content: the sizes byte and the CRC zero, packed 2 (03 00).
    for (std::size_t e = 0, p = at + 4 + input[at + 1]; e < input[at + 2] && p + 15 <= input.size(); ++e, p += 15) {
      if (rng() % 4 == 0) continue;
      input[p + 1] = 2;
      input[p + 2] = 0;
      for (int k = 7; k < 11; ++k) input[p + k] = 0;
      input[p + 11] = static_cast<std::uint8_t>(1 + rng() % 9);
    }
    run(input);
  }
  return kRounds;
}

}  // namespace vard::test
