// Encoder of the second diff form (engine/diff/stream_diff.h): approximate matching over
// a suffix array of the old file finds aligned regions, whose bytes are sent as
// differences from the old bytes (mostly zeros, where relocated addresses in machine code
// differ by a few values), the rest as extra bytes; each of the three streams is then
// compressed on its own with xz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard::mkpatch {

// The three streams before compression.
struct StreamDiffParts {
  std::vector<uint8_t> commands, differences, extra;
};

// Splits new into records against old (any sizes, either may be empty). Deterministic.
// Memory: the suffix array (4 bytes per old byte, 8 from 2 GiB on) plus the streams.
StreamDiffParts SplitStreamDiff(const uint8_t* old_data, size_t old_size,
                                const uint8_t* new_data, size_t new_size);

// The whole container as a patch carries it: header and the three compressed streams.
std::vector<uint8_t> EncodeStreamDiff(const uint8_t* old_data, size_t old_size,
                                      const uint8_t* new_data, size_t new_size);

}  // namespace vard::mkpatch
