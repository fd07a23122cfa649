#include "engine/diff/stream_diff.h"

#include <cstring>
#include <memory>
#include <optional>
#include <new>

#include "engine/diff/branch_targets.h"
#include "engine/diff/difference_reader.h"
#include "engine/xz_stream.h"

namespace vard::diff {

bool ParseStreamDiffHeader(const unsigned char* bytes, std::uint64_t total_size,
                           StreamDiffHeader& header) {
  if (total_size < kStreamDiffHeaderSize) return false;
  if (std::memcmp(bytes, kStreamDiffMagic, sizeof kStreamDiffMagic) != 0) return false;
  const std::uint64_t size_and_flags = GetLe64(bytes + 4);
  header.new_size = size_and_flags & kStreamDiffSizeMask;
  header.flags = static_cast<unsigned char>(size_and_flags >> 56);
  if ((header.flags & ~kKnownStreamDiffFlags) != 0) return false;
  std::uint64_t end = kStreamDiffHeaderSize;
  for (int i = 0; i < 3; ++i) {
    header.lengths[i] = GetLe64(bytes + 12 + 8 * i);
    if (header.lengths[i] > total_size - end) return false;
    end += header.lengths[i];
  }
  return end == total_size;
}

namespace {

constexpr std::size_t kScratch = std::size_t{64} << 10;

// add new bytes: old bytes plus differences; where the differences are zeros, the old
// bytes go on as they are.
bool AddRun(std::uint64_t count, DiffWriter& out, DiffReader& old, DifferenceReader& differences,
            unsigned char* scratch) {
  while (count > 0) {
    const unsigned char* delta = nullptr;
    std::size_t n = differences.Next(delta, count < kScratch ? count : kScratch);
    if (n == 0) return false;
    const unsigned char* base = nullptr;
    const std::size_t m = old.Peek(base, n);
    if (m == 0) return false;
    if (delta == nullptr) {
      if (!out.Write(base, m)) return false;
    } else {
      for (std::size_t i = 0; i < m; ++i) scratch[i] = static_cast<unsigned char>(base[i] + delta[i]);
      if (!out.Write(scratch, m)) return false;
    }
    differences.Take(delta, m);
    old.Skip(m);
    count -= m;
  }
  return true;
}

// One file's code ranges from the command stream; false unless well formed.
bool ReadCodeRanges(XzReader& commands, std::uint64_t file_size, CodeRanges& out) {
  unsigned char word[8];
  if (!commands.ReadExactly(word, 8)) return false;
  const std::uint64_t count = GetLe64(word);
  if (count > kMaxCodeRanges) return false;
  std::uint64_t end = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    unsigned char triple[24];
    if (!commands.ReadExactly(triple, sizeof triple)) return false;
    CodeRange& r = out.ranges[i];
    r.start = GetLe64(triple);
    r.length = GetLe64(triple + 8);
    r.address = GetLe64(triple + 16);
    if (r.start < end || r.start > file_size || r.length > file_size - r.start) return false;
    end = r.start + r.length;
  }
  out.count = static_cast<std::size_t>(count);
  return true;
}

bool ExtraRun(std::uint64_t count, DiffWriter& out, XzReader& extra) {
  while (count > 0) {
    const unsigned char* data = nullptr;
    std::size_t n = extra.Peek(data);
    if (n == 0) return false;
    if (n > count) n = static_cast<std::size_t>(count);
    if (!out.Write(data, n)) return false;
    extra.Take(n);
    count -= n;
  }
  return true;
}

}  // namespace

bool DecodeStreamDiff(DiffWriter& out, DiffReader& old, DiffReader& commands,
                      DiffReader& differences, DiffReader& extra,
                      std::uint64_t expected_new_size) {
  unsigned char head[kStreamDiffHeaderSize];
  commands.set_position(0);
  for (unsigned char& b : head) {
    const int c = commands.NextByte();
    if (c < 0) return false;
    b = static_cast<unsigned char>(c);
  }
  StreamDiffHeader header;
  if (!ParseStreamDiffHeader(head, commands.size(), header)) return false;
  if (expected_new_size != kAnyNewSize && header.new_size != expected_new_size) return false;

  const std::uint64_t start = kStreamDiffHeaderSize;
  differences.set_position(start + header.lengths[0]);
  extra.set_position(start + header.lengths[0] + header.lengths[1]);
  XzReader command_stream, difference_stream, extra_stream;
  std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[kScratch]);
  if (!scratch || !command_stream.Start(commands, header.lengths[0]) ||
      !difference_stream.Start(differences, header.lengths[1]) ||
      !extra_stream.Start(extra, header.lengths[2])) {
    return false;
  }

  DifferenceReader difference_source(difference_stream, (header.flags & kZeroRuns) != 0);
  // With branch targets, the records rebuild the converted new file from the converted
  // old one: the old file is read converted, the output converted back as it goes out.
  const bool branch_targets = (header.flags & kBranchTargets) != 0;
  CodeRanges old_code, new_code;
  if (branch_targets && (!ReadCodeRanges(command_stream, old.size(), old_code) ||
                         !ReadCodeRanges(command_stream, header.new_size, new_code))) {
    return false;
  }
  AbsoluteTargetsReader absolute_old(old, old_code);
  if (branch_targets && !absolute_old.ok()) return false;
  DiffReader& source = branch_targets ? static_cast<DiffReader&>(absolute_old) : old;
  std::optional<RelativeTargetsOutput> relative;
  if (branch_targets) relative.emplace(out, new_code);

  source.set_position(0);
  std::uint64_t left = header.new_size;
  for (;;) {
    const unsigned char* peek = nullptr;
    if (command_stream.Peek(peek) == 0) {
      if (command_stream.failed()) return false;
      break;
    }
    unsigned char record[kStreamDiffRecordSize];
    if (!command_stream.ReadExactly(record, sizeof record)) return false;
    const std::uint64_t add = GetLe64(record);
    const std::uint64_t extra_count = GetLe64(record + 8);
    const std::uint64_t seek = GetLe64(record + 16);  // two's complement

    const std::uint64_t pos = source.position();  // never beyond the old size
    if (add > left || add > source.size() - pos) return false;
    if (!AddRun(add, out, source, difference_source, scratch.get())) return false;
    left -= add;
    if (extra_count > left) return false;
    if (!ExtraRun(extra_count, out, extra_stream)) return false;
    left -= extra_count;
    const std::uint64_t at = source.position();
    const std::uint64_t moved = at + seek;  // wraps for negative seeks
    const bool backwards = (seek >> 63) != 0;
    if (backwards ? moved > at : (moved < at || moved > source.size())) return false;
    source.set_position(moved);
  }
  const bool ok = left == 0 && difference_source.Settled() && command_stream.Finished() &&
                  difference_stream.Finished() && extra_stream.Finished();
  // The last block is converted back only now that it is complete.
  return ok && (!relative || relative->Finish());
}

}  // namespace vard::diff
