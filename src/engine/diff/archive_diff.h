// The third diff form, for zip-format archives (jars, game data archives): one changed
// file inside an archive changes its compressed bytes from there on, so the archive is
// rebuilt entry by entry instead. The archive without the compressed bytes of its rebuilt
// entries (headers, directory, entries carried as they are) is a second-form diff
// against the old archive; each rebuilt entry's content is made from records against one
// old entry's content (its base), then deflated with the zlib settings that reproduce
// the entry's exact compressed bytes. docs/diff-format.md describes the form.
//
// Container, all numbers little-endian:
//   0  magic "VDF3"
//   4  u64 new size in the low 56 bits, flags in the top byte (byte 11)
//   12 u64 length of the skeleton (a whole second-form container, stream_diff.h)
//   20 u64 length of the entry table stream, 28 of the command stream, 36 of the
//      difference stream, 44 of the extra stream (each one .xz stream)
//   52 the skeleton and the four streams in that order; the container ends where the
//      extra stream ends.
// The entry table decodes to records of kArchiveEntryRecordSize bytes (ArchiveEntry),
// ordered by their offset in the new file. The command, difference and extra streams
// hold the entries' records in the same order and mean what they mean in the second
// form, with the entry's base content as the old file and the entry's content as the new.
// Flag kZeroRuns (stream_diff.h): the difference stream is zero-run coded as a second-form
// one may be, over all entries as one stream. Diffs made before the flag had no flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/diff/diff_reader.h"
#include "engine/diff/diff_writer.h"

namespace vard::diff {

inline constexpr unsigned char kArchiveDiffMagic[4] = {'V', 'D', 'F', '3'};
inline constexpr std::size_t kArchiveDiffHeaderSize = 52;
inline constexpr std::size_t kArchiveEntryRecordSize = 64;

// An entry's base is read into memory whole: larger bases are refused (mkpatch then
// rebuilds the entry without a base or carries it in the skeleton).
inline constexpr std::uint64_t kArchiveBaseLimit = std::uint64_t{8} << 20;

enum class ArchiveBaseKind : std::uint8_t { None = 0, Stored = 1, Deflated = 2 };

// One rebuilt entry, as a record of the entry table:
//   0  u64 offset     where its compressed bytes start in the new file
//   8  u64 packed     their count
//   16 u64 size       the entry's content size
//   24 u64 base_offset, 32 u64 base_packed: the base's bytes in the old file
//   40 u64 base_size  the base's content size (at most kArchiveBaseLimit)
//   48 u32 crc        CRC-32 of the content, as the archive's headers give it
//   52 u8 base kind, 53 u8 level (0-9), 54 u8 memory level (1-9), 55 u8 window bits
//      (9-15), 56 u8 strategy (0-4): raw deflate (no zlib header) with these settings
//   57 seven zero bytes
struct ArchiveEntry {
  std::uint64_t offset = 0, packed = 0, size = 0;
  std::uint64_t base_offset = 0, base_packed = 0, base_size = 0;
  std::uint32_t crc = 0;
  ArchiveBaseKind base_kind = ArchiveBaseKind::None;
  std::uint8_t level = 6, mem_level = 8, window_bits = 15, strategy = 0;
};

void PutArchiveEntry(unsigned char* out, const ArchiveEntry& entry);
// False when a field is out of its range or the padding is not zero.
bool GetArchiveEntry(const unsigned char* in, ArchiveEntry& entry);

struct ArchiveDiffHeader {
  std::uint64_t new_size = 0;
  unsigned char flags = 0;
  std::uint64_t lengths[5] = {0, 0, 0, 0, 0};  // skeleton, table, commands, differences, extra
};

// Reads the header from the first kArchiveDiffHeaderSize bytes; false when they do not
// start with the magic, a flag is unknown, or the lengths do not add up to total_size
// exactly.
bool ParseArchiveDiffHeader(const unsigned char* bytes, std::uint64_t total_size,
                            ArchiveDiffHeader& header);

// Opens a fresh reader over the whole old file or the whole diff, positioned anywhere;
// null on failure. The decoder keeps several at once, one per stream, so that each keeps
// its own page.
using OpenReader = std::function<std::unique_ptr<DiffReader>()>;

// Rebuilds the new archive from the old one and a third-form diff. True when every
// stream was consumed to its end and exactly the header's new size was written (which
// must equal expected_new_size unless that is ~0). False at once on anything malformed:
// bad magic or lengths, a malformed skeleton, an entry record out of range or out of
// order, a base that does not inflate to its size, records that read outside the base
// or overrun the entry, content whose CRC-32 is not the entry's, deflated bytes other
// than the entry's count, a corrupt stream or a failed write. Output never exceeds the
// new size. Memory: the second form's (36 MiB) plus four stream decoders (each at most
// kXzMemoryLimit plus 64 KiB), one base (at most kArchiveBaseLimit), a deflate state for
// the entry's settings (at most 384 KiB), an inflate state, the pages of the five
// readers opened for the table, the entry streams and the bases, a 1 MiB buffer and two
// 64 KiB buffers: at most 92 MiB.
bool DecodeArchiveDiff(DiffWriter& out, const OpenReader& open_old, const OpenReader& open_diff,
                       std::uint64_t expected_new_size = ~std::uint64_t{0});

}  // namespace vard::diff
