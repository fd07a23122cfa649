// Reproducible test bytes for the encoder tests: n values drawn from the generator, each
// below `alphabet` (small alphabets make many repeats).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace vard::mkpatch {

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n, int alphabet = 256) {
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng() % alphabet);
  return out;
}

}  // namespace vard::mkpatch
