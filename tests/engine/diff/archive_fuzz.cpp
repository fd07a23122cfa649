// Fuzz target of the archive-diff decoder. Input: one byte n, n bytes of old file, then a
// flags byte. Flags bit 0 set: the rest is taken as a container after the magic, as it is
// (real containers in the corpus start here). Otherwise the rest describes the streams
// before compression, so that the entry code is reached past the streams' checks: a byte
// s of skeleton bytes (carried as one extra run), a byte e of entry records of 15 bytes
// each, a byte c of command triples, then the skeleton bytes, the entry records (small
// offsets and sizes, any base kind and settings), the triples (add, extra, signed seek)
// and the bytes that are split between the difference and the extra stream (flags bit 1:
// the differences travel zero-run coded, with the header's flag). The decoder
// must not crash or write past the header's new size, and a success writes exactly it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/diff/archive_diff.h"
#include "engine/diff/diff_fuzz_input.h"

namespace {

using Bytes = vard::test::FuzzBytes;
using namespace vard::diff;
using namespace vard::test;

Bytes Container(std::uint64_t new_size, const Bytes* parts, std::size_t count) {
  Bytes out(kArchiveDiffHeaderSize, 0);
  std::memcpy(out.data(), kArchiveDiffMagic, 4);
  PutLe64(out.data() + 4, new_size);
  for (std::size_t i = 0; i < count; ++i) {
    PutLe64(out.data() + 12 + 8 * i, parts[i].size());
    out.insert(out.end(), parts[i].begin(), parts[i].end());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  DiffFuzzInput in;
  if (!SplitDiffFuzzInput(input, size, in)) return 0;
  const Bytes& old = in.old;
  const std::uint8_t* rest = in.rest;
  std::size_t left = in.left;

  Bytes container;
  if (in.flags & 1) {
    container.assign(kArchiveDiffMagic, kArchiveDiffMagic + 4);
    container.insert(container.end(), rest, rest + left);
  } else {
    if (left < 3) return 0;
    std::size_t skeleton_size = rest[0], entries = rest[1], triples = rest[2];
    rest += 3;
    left -= 3;
    if (skeleton_size > left) skeleton_size = left;
    const Bytes skeleton_bytes(rest, rest + skeleton_size);
    rest += skeleton_size;
    left -= skeleton_size;
    std::uint64_t new_size = skeleton_size;
    Bytes table;
    for (std::size_t i = 0; i < entries && left >= 15; ++i, rest += 15, left -= 15) {
      ArchiveEntry e;
      e.offset = rest[0] % 64;
      e.packed = rest[1] % 64;
      e.size = rest[2] % 64;
      e.base_kind = static_cast<ArchiveBaseKind>(rest[3] % 3);
      e.base_offset = rest[4] % 32;
      e.base_packed = e.base_kind == ArchiveBaseKind::None ? 0 : rest[5] % 32;
      e.base_size = e.base_kind == ArchiveBaseKind::Deflated ? rest[6] % 64
                    : e.base_kind == ArchiveBaseKind::Stored ? e.base_packed : 0;
      std::memcpy(&e.crc, rest + 7, 4);
      e.level = rest[11] % 10;
      e.mem_level = static_cast<std::uint8_t>(1 + rest[12] % 9);
      e.window_bits = static_cast<std::uint8_t>(9 + rest[13] % 7);
      e.strategy = rest[14] % 5;
      new_size += e.packed;
      unsigned char record[kArchiveEntryRecordSize];
      PutArchiveEntry(record, e);
      table.insert(table.end(), record, record + sizeof record);
    }
    Bytes commands;
    for (std::size_t i = 0; i < triples && left >= 3; ++i, rest += 3, left -= 3)
      PutRecord(commands, rest[0] % 16u, rest[1] % 16u, static_cast<std::int8_t>(rest[2]));
    const Bytes differences(rest, rest + left / 2), extra(rest + left / 2, rest + left);

    Bytes skeleton_commands;
    PutRecord(skeleton_commands, 0, skeleton_bytes.size(), 0);
    const Bytes skeleton = StreamDiffContainer(skeleton_bytes.size(), skeleton_commands, {}, skeleton_bytes);
    const bool zero_runs = (in.flags & 2) != 0;
    const Bytes parts[5] = {skeleton, Xz(table), Xz(commands),
                            Xz(zero_runs ? ZeroRunCoded(differences) : differences), Xz(extra)};
    container = Container(new_size | (zero_runs ? std::uint64_t{kZeroRuns} << 56 : 0), parts, 5);
  }

  const OpenReader open_old = [&old] { return std::make_unique<MemoryDiffReader>(old.data(), old.size()); };
  const OpenReader open_diff = [&container] {
    return std::make_unique<MemoryDiffReader>(container.data(), container.size());
  };
  VectorDiffWriter writer;
  const bool ok = DecodeArchiveDiff(writer, open_old, open_diff);
  if (!writer.Flush()) std::abort();
  if (container.size() >= kArchiveDiffHeaderSize) {
    const std::uint64_t new_size = GetLe64(container.data() + 4) & kStreamDiffSizeMask;
    if (writer.bytes().size() > new_size || (ok && writer.bytes().size() != new_size)) std::abort();
  } else if (ok) {
    std::abort();
  }
  return 0;
}
