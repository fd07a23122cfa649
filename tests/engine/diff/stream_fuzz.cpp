// Fuzz target of the stream-diff decoder. Input: one byte n, n bytes of old file, then a
// flags byte. Flags bit 0 set: the rest, after the magic, is taken as a container as it is
// (header and compressed streams at the mercy of the input). Otherwise the rest describes
// the three streams before compression: a byte c of command triples and a byte d of
// difference bytes, then 3c bytes that become records (add = x % 16, extra = y % 16,
// seek = z as signed), d difference bytes and the extra bytes; they are compressed and
// packed (flags bit 1: the command stream loses its last byte; bit 2: the header's new
// size is flags >> 4 instead of the records' sum; bit 3: the difference bytes travel
// zero-run coded, with the header's flag; bit 4, without bit 2: branch targets, with six
// bytes after c and d giving one code range of each file, start, length and address / 2^17,
// old then new). The decoder must agree with a plain reading of the records, and never
// write beyond the header's new size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/diff/branch_targets.h"
#include "engine/diff/diff_fuzz_input.h"
#include "engine/diff/stream_diff.h"

namespace {

using Bytes = vard::test::FuzzBytes;
using namespace vard::diff;
using namespace vard::test;

struct Record {
  std::uint64_t add, extra;
  std::int64_t seek;
};

// The records read plainly; false where the decoder must fail.
bool Reference(const Bytes& old, const std::vector<Record>& records, const Bytes& differences,
               const Bytes& extra, std::uint64_t new_size, bool cut, Bytes& out) {
  std::size_t pos = 0, d = 0, e = 0;
  for (const Record& r : records) {
    if (r.add > old.size() - pos || r.add > differences.size() - d) return false;
    for (std::uint64_t i = 0; i < r.add; ++i)
      out.push_back(static_cast<unsigned char>(old[pos++] + differences[d++]));
    if (r.extra > extra.size() - e) return false;
    for (std::uint64_t i = 0; i < r.extra; ++i) out.push_back(extra[e++]);
    if (out.size() > new_size) return false;
    const std::int64_t to = static_cast<std::int64_t>(pos) + r.seek;
    if (to < 0 || to > static_cast<std::int64_t>(old.size())) return false;
    pos = static_cast<std::size_t>(to);
  }
  return !cut && out.size() == new_size && d == differences.size() && e == extra.size();
}

// One code range from three input bytes: start, length, and the address over 16 MiB so
// that targets wrap.
CodeRanges OneRange(const std::uint8_t* spec) {
  CodeRanges ranges;
  ranges.count = 1;
  ranges.ranges[0] = {spec[0], spec[1], std::uint64_t{spec[2]} << 17};
  return ranges;
}

bool Within(const CodeRanges& ranges, std::uint64_t size) {
  const CodeRange& r = ranges.ranges[0];
  return r.start <= size && r.length <= size - r.start;
}

void PutRange(Bytes& out, const CodeRanges& ranges) {
  unsigned char b[32];
  PutLe64(b, 1);
  PutLe64(b + 8, ranges.ranges[0].start);
  PutLe64(b + 16, ranges.ranges[0].length);
  PutLe64(b + 24, ranges.ranges[0].address);
  out.insert(out.end(), b, b + sizeof b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  DiffFuzzInput in;
  if (!SplitDiffFuzzInput(input, size, in)) return 0;
  const Bytes& old = in.old;
  const unsigned flags = in.flags;
  const std::uint8_t* rest = in.rest;
  std::size_t left = in.left;

  Bytes container;
  Bytes expected;
  bool expected_ok = false;
  bool check = false;
  if (flags & 1) {
    container.assign(kStreamDiffMagic, kStreamDiffMagic + 4);
    container.insert(container.end(), rest, rest + left);
  } else {
    if (left < 2) return 0;
    const std::size_t triples = rest[0], ndiff = rest[1];
    rest += 2;
    left -= 2;
    const bool branch_targets = (flags & 0x14) == 0x10;
    if (branch_targets && left < 6) return 0;
    CodeRanges old_code, new_code;
    Bytes commands;
    if (branch_targets) {
      old_code = OneRange(rest);
      new_code = OneRange(rest + 3);
      PutRange(commands, old_code);
      PutRange(commands, new_code);
      rest += 6;
      left -= 6;
    }
    std::vector<Record> records;
    for (std::size_t i = 0; i < triples && left >= 3; ++i, rest += 3, left -= 3) {
      const Record r{rest[0] % 16u, rest[1] % 16u, static_cast<std::int8_t>(rest[2])};
      records.push_back(r);
      PutRecord(commands, r.add, r.extra, r.seek);
    }
    const std::size_t nd = ndiff < left ? ndiff : left;
    const Bytes differences(rest, rest + nd);
    const Bytes extra(rest + nd, rest + left);
    const bool cut = (flags & 2) && !commands.empty();
    if (cut) commands.pop_back();
    std::uint64_t new_size = 0;
    for (const Record& r : records) new_size += r.add + r.extra;
    if (flags & 4) new_size = flags >> 4;
    const bool zero_runs = (flags & 8) != 0;
    const std::uint64_t header_flags = (zero_runs ? kZeroRuns : 0) | (branch_targets ? kBranchTargets : 0);
    container = StreamDiffContainer(new_size | header_flags << 56, commands,
                                    zero_runs ? ZeroRunCoded(differences) : differences, extra);
    if (branch_targets) {
      // Rebuilt from the old file with absolute targets, and turned back to relative.
      Bytes absolute = old;
      if (Within(old_code, old.size()) && Within(new_code, new_size)) {
        ConvertBranchTargets(absolute.data(), absolute.size(), 0, old_code, true);
        expected_ok = Reference(absolute, records, differences, extra, new_size, cut, expected);
        if (expected_ok) ConvertBranchTargets(expected.data(), expected.size(), 0, new_code, false);
      }
    } else {
      expected_ok = Reference(old, records, differences, extra, new_size, cut, expected);
    }
    check = true;
  }

  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader a(container.data(), container.size()), b(container.data(), container.size()),
      c(container.data(), container.size());
  VectorDiffWriter writer;
  const bool ok = DecodeStreamDiff(writer, old_reader, a, b, c);
  if (!writer.Flush()) std::abort();
  if (container.size() >= kStreamDiffHeaderSize &&
      writer.bytes().size() > (GetLe64(container.data() + 4) & kStreamDiffSizeMask))
    std::abort();
  if (check && (ok != expected_ok || (ok && writer.bytes() != expected))) std::abort();
  return 0;
}
