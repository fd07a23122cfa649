// Encoder of the second diff form (engine/diff/stream_diff.h): approximate matching over
// an index of the old file (match_finder.h) finds aligned regions, whose bytes are sent as
// differences from the old bytes (mostly zeros, where relocated addresses in machine code
// differ by a few values), the rest as extra bytes; each of the three streams is then
// compressed on its own with xz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vard::mkpatch {

// The three streams before compression.
struct StreamDiffParts {
  std::vector<uint8_t> commands, differences, extra;
};

// Splits new into records against old (any sizes, either may be empty). Deterministic.
// Memory: the match index (match_finder.h: 4 bytes per old byte up to its limit, half a
// byte above) plus the streams. When on_differences (on_extra) is given, it is called
// with the difference (extra) bytes made so far each time they pass 1 MiB, and takes them
// (the vector is cleared after the call): the caller compresses them while matching goes
// on; the rest stays in the returned parts.
StreamDiffParts SplitStreamDiff(
    const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size,
    const std::function<void(std::vector<uint8_t>&)>& on_differences = nullptr,
    const std::function<void(std::vector<uint8_t>&)>& on_extra = nullptr);

// New files above this size have their extra bytes compressed while matching goes on.
inline constexpr size_t kPipedExtraFrom = size_t{16} << 20;

// Pairs up to this size are split every way that may pay (executables, code_ranges.h,
// also with their branch targets absolute, which holds a converted copy of both files
// beside them), each way's compressed size estimated with a fast compressor setting, and
// only the smallest compressed at full strength; their streams are held in memory until
// then (at most about the new file's size per way). Larger pairs stream their difference
// stream into two compressors, plain and zero-run coded, while matching goes on.
inline constexpr size_t kBranchTargetsUpTo = size_t{64} << 20;

// The whole container as a patch carries it: header and the three compressed streams.
// Memory beyond the two files, for large pairs: the match index, the commands (24 bytes a
// record), a few MiB of queued stream bytes, the xz encoders and the compressed streams up
// to kXzPipeKept bytes each (the rest wait in temporary files); for pairs up to
// kBranchTargetsUpTo, two match indexes at once, the converted copies and each way's
// streams. Empty when the container would have `limit` bytes or more: it is then never
// assembled in memory.
std::vector<uint8_t> EncodeStreamDiff(const uint8_t* old_data, size_t old_size,
                                      const uint8_t* new_data, size_t new_size,
                                      uint64_t limit = UINT64_MAX);

}  // namespace vard::mkpatch
