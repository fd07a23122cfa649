// Generated inputs for the stream-diff decoder's replay, from a fixed seed: mostly
// structured inputs with few records and mostly small seeks, some with runs of zeros, and
// well-formed branch-target diffs of old files full of calls.
#include <algorithm>
#include <random>

#include "engine/diff/diff_fuzz_input.h"
#include "test_support/fuzz_replay.h"

namespace vard::test {
namespace {

// One record that adds the whole old file and appends a few extra bytes, with code ranges
// that fit both files but for the odd one.
std::vector<std::uint8_t> BranchTargetInput(std::mt19937& rng) {
  const std::uint8_t n = static_cast<std::uint8_t>(rng() % 16), extra = rng() % 8;
  std::vector<std::uint8_t> input{n};
  for (std::uint8_t i = 0; i < n; ++i) {  // calls, and targets within 16 MiB
    const unsigned kind = rng() % 3;
    input.push_back(static_cast<std::uint8_t>(kind == 0 ? 0xE8 + rng() % 2 : kind == 1 ? 0xFF * (rng() % 2) : rng()));
  }
  input.push_back(static_cast<std::uint8_t>(0x10 | (rng() % 2 ? 8 : 0)));  // flags
  input.push_back(1);
  input.push_back(n);
  const auto range = [&](unsigned size) {
    const unsigned start = rng() % (size + 2);
    input.push_back(static_cast<std::uint8_t>(start));
    input.push_back(static_cast<std::uint8_t>(start > size ? 0 : rng() % (size - start + 1)));
    input.push_back(static_cast<std::uint8_t>(rng()));
  };
  range(n);
  range(n + extra);
  input.insert(input.end(), {n, extra, 0});
  for (std::uint8_t i = 0; i < n + extra; ++i)
    input.push_back(static_cast<std::uint8_t>(rng() % 2 ? 0 : rng()));
  return input;
}

}  // namespace

std::size_t ReplayGeneratedInputs(ReplayInput run) {
  constexpr std::size_t kRounds = 4000;
  std::mt19937 rng(15);
  for (std::size_t round = 0; round < kRounds; ++round) {
    if (round % 4 == 1) {
      run(BranchTargetInput(rng));
      continue;
    }
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
