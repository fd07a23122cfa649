// Generated inputs for the stream-diff decoder's replay, from a fixed seed: mostly
// structured inputs with few records and mostly small seeks, some with runs of zeros.
#include <algorithm>
#include <random>

#include "engine/diff/diff_fuzz_input.h"
#include "test_support/fuzz_replay.h"

namespace vard::test {

std::size_t ReplayGeneratedInputs(ReplayInput run) {
  constexpr std::size_t kRounds = 4000;
  std::mt19937 rng(15);
  for (std::size_t round = 0; round < kRounds; ++round) {
    std::vector<std::uint8_t> input;
    const std::size_t at = RandomDiffFuzzInput(rng, input, 3, 80);
    if (round % 8 != 0) input[at] &= static_cast<std::uint8_t>(~1u);
    if (at + 1 < input.size()) input[at + 1] %= 8;
    if (at + 2 < input.size()) input[at + 2] %= 48;
    // Stretches of zeros, so that zero-run coded differences (flag bit 3) hold runs.
    if (round % 3 == 0 && at + 4 < input.size()) {
      const std::size_t from = at + 4 + rng() % (input.size() - at - 4);
      std::fill(input.begin() + static_cast<std::ptrdiff_t>(from),
                input.begin() + static_cast<std::ptrdiff_t>(from + rng() % (input.size() - from + 1)), 0);
    }
    run(input);
  }
  return kRounds;
}

}  // namespace vard::test
