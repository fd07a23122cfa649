// Inputs that a fuzz target's replay (fuzz_replay_main.cpp) runs after its corpus files. A
// target whose corpus is small defines ReplayGeneratedInputs in a source of its replay
// executable: it generates inputs from a fixed seed, hands each to run and returns how
// many it made. Targets that do not define it replay their corpus only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard::test {

using ReplayInput = void (*)(const std::vector<std::uint8_t>& input);

std::size_t ReplayGeneratedInputs(ReplayInput run);

}  // namespace vard::test
