// The second diff form: the new file as runs of old bytes plus small differences, extra
// bytes, and seeks in the old file, with commands, differences and extra bytes in three
// separately compressed streams. Chosen per entry by diff="2" in the pack manifest; the
// first form (diff_format.h) stays as it is. docs/diff-format.md describes both.
//
// Container, all numbers little-endian:
//   0  magic "VDF2"
//   4  u64 new size in the low 56 bits, flags in the top byte (byte 11)
//   12 u64 length of the command stream, 20 of the difference stream, 28 of the extra one
//   36 the three streams, each one .xz stream (engine/xz_stream.h), in that order; the
//      container ends where the extra stream ends.
// The command stream decodes to records of 24 bytes: u64 add, u64 extra, i64 seek. For
// each record: add new bytes are old[pos + i] + difference[i] (mod 256) and pos moves on
// by add; extra new bytes are taken from the extra stream as they are; then pos moves by
// seek, which may be negative. pos starts at 0 and must stay within the old file.
// Flag kZeroRuns: the difference stream codes each run of zeros as one 0x00 followed by
// the run's length minus one in LEB128 (7 bits a byte, low first, at most 9 bytes); other
// bytes stand for themselves. Diffs made before the flag existed have no flags.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/diff/diff_reader.h"
#include "engine/diff/diff_writer.h"

namespace vard::diff {

inline constexpr unsigned char kStreamDiffMagic[4] = {'V', 'D', 'F', '2'};
inline constexpr std::size_t kStreamDiffHeaderSize = 36;
inline constexpr std::size_t kStreamDiffRecordSize = 24;

inline constexpr unsigned char kZeroRuns = 0x01;
// The diff is made between the files with their x86 branch targets made absolute in their
// code ranges (branch_targets.h); the command stream starts with the ranges, of the old
// file and then of the new: each a u64 count (at most kMaxCodeRanges) and that many u64
// triples (start, length, address), in order and apart, inside their file.
inline constexpr unsigned char kBranchTargets = 0x02;
inline constexpr unsigned char kKnownStreamDiffFlags = kZeroRuns | kBranchTargets;
inline constexpr std::uint64_t kStreamDiffSizeMask = (std::uint64_t{1} << 56) - 1;
inline constexpr int kZeroRunLengthBytes = 9;

struct StreamDiffHeader {
  std::uint64_t new_size = 0;
  unsigned char flags = 0;
  std::uint64_t lengths[3] = {0, 0, 0};  // commands, differences, extra bytes
};

inline void PutLe64(unsigned char* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline std::uint64_t GetLe64(const unsigned char* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

// Reads the header from the first kStreamDiffHeaderSize bytes; false when they do not
// start with the magic, a flag is unknown, or the stream lengths do not add up to
// total_size exactly.
bool ParseStreamDiffHeader(const unsigned char* bytes, std::uint64_t total_size,
                           StreamDiffHeader& header);

// No expectation about the new size: the header's value is taken.
inline constexpr std::uint64_t kAnyNewSize = ~std::uint64_t{0};

// Rebuilds the new file from the old one and a second-form diff. The three readers must
// read the same container (each is positioned at its own stream); old is read through
// its cursor from position 0. True when every stream was consumed exactly to its end and
// exactly the header's new size was written. False at once on anything malformed: bad
// magic or lengths, a new size other than expected_new_size (unless kAnyNewSize), a
// record that reads outside the old file, seeks outside it or writes past the new size,
// a corrupt, truncated or over-long stream, one over the decoder memory limit, or a
// failed write. Output never exceeds the new size. Page failures propagate as
// std::runtime_error("Cannot load page"). Memory beyond the readers and writer: three
// stream decoders (each at most kXzMemoryLimit plus a 64 KiB window) and 64 KiB.
bool DecodeStreamDiff(DiffWriter& out, DiffReader& old, DiffReader& commands,
                      DiffReader& differences, DiffReader& extra,
                      std::uint64_t expected_new_size = kAnyNewSize);

}  // namespace vard::diff
