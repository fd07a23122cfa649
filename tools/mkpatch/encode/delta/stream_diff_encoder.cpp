#include "mkpatch/encode/delta/stream_diff_encoder.h"

#include <algorithm>
#include <future>
#include <optional>

#include "engine/diff/stream_diff.h"
#include "engine/diff/branch_targets.h"
#include "mkpatch/encode/delta/code_ranges.h"
#include "mkpatch/encode/delta/match_finder.h"
#include "mkpatch/encode/delta/zero_runs.h"
#include "mkpatch/encode/payload_writer.h"

namespace vard::mkpatch {
namespace {

void PutRecord(std::vector<uint8_t>& out, uint64_t add, uint64_t extra, int64_t seek) {
  uint8_t record[diff::kStreamDiffRecordSize];
  diff::PutLe64(record, add);
  diff::PutLe64(record + 8, extra);
  diff::PutLe64(record + 16, static_cast<uint64_t>(seek));
  out.insert(out.end(), record, record + sizeof record);
}

// How far a new match must beat the bytes the current alignment already explains before
// the encoder leaves that alignment for it.
constexpr size_t kSwitchMargin = 8;

}  // namespace

StreamDiffParts SplitStreamDiff(
    const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size,
    const std::function<void(std::vector<uint8_t>&)>& on_differences,
    const std::function<void(std::vector<uint8_t>&)>& on_extra) {
  StreamDiffParts parts;
  const MatchFinder finder(old_data, old_size);
  // All positions as signed 64-bit: offsets between the files can be negative.
  const int64_t old_n = static_cast<int64_t>(old_size), new_n = static_cast<int64_t>(new_size);
  int64_t scan = 0, len = 0, pos = 0;
  int64_t last_scan = 0, last_pos = 0, last_offset = 0;
  while (scan < new_n) {
    // Look for the next place where an exact match beats the current alignment (old
    // position = new position + last_offset) by more than the margin.
    int64_t old_score = 0;
    int64_t counted = scan += len;
    for (; scan < new_n; ++scan) {
      const Match m = finder.Longest(new_data + scan, static_cast<size_t>(new_n - scan),
                                     static_cast<size_t>(std::clamp<int64_t>(scan + last_offset, 0, old_n)));
      pos = static_cast<int64_t>(m.old_pos);
      len = static_cast<int64_t>(m.length);
      for (; counted < scan + len; ++counted) {
        const int64_t o = counted + last_offset;
        if (o >= 0 && o < old_n && old_data[o] == new_data[counted]) ++old_score;
      }
      if ((len == old_score && len != 0) || len > old_score + static_cast<int64_t>(kSwitchMargin))
        break;
      const int64_t o = scan + last_offset;
      if (o >= 0 && o < old_n && old_data[o] == new_data[scan]) --old_score;
    }
    if (len == old_score && scan != new_n) continue;

    // Stretch the previous alignment forward from last_scan while more than half of
    // the bytes agree ...
    int64_t forward = 0;
    {
      int64_t same = 0, best = 0;
      for (int64_t i = 0; last_scan + i < scan && last_pos + i < old_n;) {
        if (old_data[last_pos + i] == new_data[last_scan + i]) ++same;
        ++i;
        if (same * 2 - i > best * 2 - forward) {
          best = same;
          forward = i;
        }
      }
    }
    // ... and the new match backward from scan the same way.
    int64_t backward = 0;
    if (scan < new_n) {
      int64_t same = 0, best = 0;
      for (int64_t i = 1; scan >= last_scan + i && pos >= i; ++i) {
        if (old_data[pos - i] == new_data[scan - i]) ++same;
        if (same * 2 - i > best * 2 - backward) {
          best = same;
          backward = i;
        }
      }
    }
    // Where the two stretches overlap, split at the point that keeps the most agreement.
    if (last_scan + forward > scan - backward) {
      const int64_t overlap = (last_scan + forward) - (scan - backward);
      int64_t same = 0, best = 0, split = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (new_data[last_scan + forward - overlap + i] == old_data[last_pos + forward - overlap + i])
          ++same;
        if (new_data[scan - backward + i] == old_data[pos - backward + i]) --same;
        if (same > best) {
          best = same;
          split = i + 1;
        }
      }
      forward += split - overlap;
      backward -= split;
    }

    for (int64_t i = 0; i < forward; ++i)
      parts.differences.push_back(static_cast<uint8_t>(new_data[last_scan + i] - old_data[last_pos + i]));
    const int64_t extra = (scan - backward) - (last_scan + forward);
    parts.extra.insert(parts.extra.end(), new_data + last_scan + forward,
                       new_data + last_scan + forward + extra);
    // At the end of the new file the last search's position may be anywhere; the seek
    // only has to stay inside the old file, which pos - backward does.
    PutRecord(parts.commands, static_cast<uint64_t>(forward), static_cast<uint64_t>(extra),
              (pos - backward) - (last_pos + forward));
    last_scan = scan - backward;
    last_pos = pos - backward;
    last_offset = pos - scan;
    if (on_differences && parts.differences.size() >= (size_t{1} << 20)) {
      on_differences(parts.differences);
      parts.differences.clear();
    }
    if (on_extra && parts.extra.size() >= (size_t{1} << 20)) {
      on_extra(parts.extra);
      parts.extra.clear();
    }
  }
  return parts;
}

namespace {

// The container of a large pair, without branch targets.
std::vector<uint8_t> EncodePair(const uint8_t* old_data, size_t old_size, const uint8_t* new_data,
                                size_t new_size, uint64_t limit) {
  // The difference stream, as long as the aligned part of the new file, is compressed
  // on a second thread while matching goes on, plain and zero-run coded on threads of
  // their own, the smaller kept. So are the extra bytes of a large file, which may be
  // nearly all of it: its dictionary then follows the file's size, not the stream's (the
  // same up to kXzDictionaryCap).
  XzPipe differences(XzKind::Differences, new_size);
  XzPipe coded(XzKind::Differences, new_size);
  ZeroRunCoder coder;
  std::vector<uint8_t> coded_piece;
  const auto take_differences = [&](std::vector<uint8_t>& piece) {
    coder.Code(piece, coded_piece);
    coded.Append(coded_piece);
    differences.Append(piece);
  };
  std::optional<XzPipe> extra;
  if (new_size > kPipedExtraFrom) extra.emplace(XzKind::Bytes, new_size);
  StreamDiffParts parts = SplitStreamDiff(
      old_data, old_size, new_data, new_size, take_differences,
      extra ? std::function<void(std::vector<uint8_t>&)>([&](std::vector<uint8_t>& piece) { extra->Append(piece); })
            : nullptr);
  take_differences(parts.differences);
  coder.Finish(coded_piece);
  coded.Append(coded_piece);
  if (extra) extra->Append(parts.extra);
  const std::vector<uint8_t> commands = CompressXz(parts.commands, XzKind::Records);
  const uint64_t plain_size = differences.Finish(), coded_size = coded.Finish();
  const bool zero_runs = coded_size < plain_size;
  std::vector<uint8_t> small_extra;
  const uint64_t extra_size = extra ? extra->Finish()
                                    : (small_extra = CompressXz(parts.extra, XzKind::Bytes)).size();
  const uint64_t sizes[3] = {commands.size(), zero_runs ? coded_size : plain_size, extra_size};
  const uint64_t total = diff::kStreamDiffHeaderSize + sizes[0] + sizes[1] + sizes[2];
  if (total >= limit) return {};

  std::vector<uint8_t> out(diff::kStreamDiffHeaderSize);
  out.reserve(total);
  std::copy(std::begin(diff::kStreamDiffMagic), std::end(diff::kStreamDiffMagic), out.begin());
  const uint64_t flags = zero_runs ? diff::kZeroRuns : 0;
  diff::PutLe64(out.data() + 4, new_size | flags << 56);
  for (int i = 0; i < 3; ++i) diff::PutLe64(out.data() + 12 + 8 * i, sizes[i]);
  out.insert(out.end(), commands.begin(), commands.end());
  (zero_runs ? coded : differences).AppendTo(out);
  if (extra) extra->AppendTo(out);
  else out.insert(out.end(), small_extra.begin(), small_extra.end());
  return out;
}

void PutRanges(std::vector<uint8_t>& out, const diff::CodeRanges& ranges) {
  uint8_t word[8];
  diff::PutLe64(word, ranges.count);
  out.insert(out.end(), word, word + 8);
  for (size_t i = 0; i < ranges.count; ++i) {
    for (const uint64_t v : {ranges.ranges[i].start, ranges.ranges[i].length, ranges.ranges[i].address}) {
      diff::PutLe64(word, v);
      out.insert(out.end(), word, word + 8);
    }
  }
}

// One way of carrying a pair: its command stream (the code ranges first, when it has
// them) and extra bytes compressed, its difference stream plain (not yet compressed) and
// zero-run coded (compressed), with its flags but for kZeroRuns.
struct Candidate {
  std::vector<uint8_t> commands, differences, coded, extra;
  uint64_t flags = 0;
  // The container's size with the coded differences.
  uint64_t CodedSize() const {
    return diff::kStreamDiffHeaderSize + commands.size() + coded.size() + extra.size();
  }
};

// Splits the pair and compresses all but its plain differences, the coded ones and the
// extra bytes on threads of their own.
Candidate Split(const uint8_t* old_data, size_t old_size, const uint8_t* new_data,
                size_t new_size, const std::vector<uint8_t>& commands_prefix, uint64_t flags) {
  StreamDiffParts parts = SplitStreamDiff(old_data, old_size, new_data, new_size);
  Candidate c;
  c.flags = flags;
  c.differences = std::move(parts.differences);
  std::future<std::vector<uint8_t>> coded = std::async(std::launch::async, [&] {
    std::vector<uint8_t> bytes;
    ZeroRunCoder coder;
    coder.Code(c.differences, bytes);
    coder.Finish(bytes);
    return CompressXz(bytes, XzKind::Differences);
  });
  std::future<std::vector<uint8_t>> extra = std::async(std::launch::async, [&] {
    return CompressXz(parts.extra, XzKind::Bytes);
  });
  parts.commands.insert(parts.commands.begin(), commands_prefix.begin(), commands_prefix.end());
  c.commands = CompressXz(parts.commands, XzKind::Records);
  c.coded = coded.get();
  c.extra = extra.get();
  return c;
}

// The container with the candidate's plain or coded differences, whichever is smaller;
// empty at `limit` bytes or more.
std::vector<uint8_t> Assemble(const Candidate& c, size_t new_size, uint64_t limit) {
  // The plain differences are compressed only here, for the one candidate chosen: their
  // compression is by far the costliest step (several seconds for 10 MB), and a plain
  // stream that cannot beat the coded one is given up as soon as it outgrows it.
  std::vector<uint8_t> plain = CompressXz(c.differences, XzKind::Differences, c.coded.size() - 1);
  const bool zero_runs = plain.empty();
  const std::vector<uint8_t>& differences = zero_runs ? c.coded : plain;
  const uint64_t total =
      diff::kStreamDiffHeaderSize + c.commands.size() + differences.size() + c.extra.size();
  if (total >= limit) return {};
  std::vector<uint8_t> out(diff::kStreamDiffHeaderSize);
  out.reserve(total);
  std::copy(std::begin(diff::kStreamDiffMagic), std::end(diff::kStreamDiffMagic), out.begin());
  const uint64_t flags = c.flags | (zero_runs ? diff::kZeroRuns : 0);
  diff::PutLe64(out.data() + 4, new_size | flags << 56);
  const std::vector<uint8_t>* streams[3] = {&c.commands, &differences, &c.extra};
  for (int i = 0; i < 3; ++i) {
    diff::PutLe64(out.data() + 12 + 8 * i, streams[i]->size());
    out.insert(out.end(), streams[i]->begin(), streams[i]->end());
  }
  return out;
}

}  // namespace

std::vector<uint8_t> EncodeStreamDiff(const uint8_t* old_data, size_t old_size,
                                      const uint8_t* new_data, size_t new_size, uint64_t limit) {
  // Large files stream their differences into the compressors while matching goes on.
  if (new_size > kBranchTargetsUpTo || old_size > kBranchTargetsUpTo)
    return EncodePair(old_data, old_size, new_data, new_size, limit);
  // Smaller ones are split every way that may pay: executables also with their branch
  // targets absolute, on a second thread. The way whose container is smaller with coded
  // differences is taken (on real executables and libraries the plain differences of
  // both ways compress in the same order: within 0.2 %) and gets its plain differences
  // compressed.
  std::future<Candidate> plain = std::async(std::launch::async, [&] {
    return Split(old_data, old_size, new_data, new_size, {}, 0);
  });
  const diff::CodeRanges old_code = FindCodeRanges(old_data, old_size);
  const diff::CodeRanges new_code = FindCodeRanges(new_data, new_size);
  if (old_code.count == 0 || new_code.count == 0) return Assemble(plain.get(), new_size, limit);
  std::optional<Candidate> converted;
  {
    std::vector<uint8_t> old_absolute(old_data, old_data + old_size);
    std::vector<uint8_t> new_absolute(new_data, new_data + new_size);
    diff::ConvertBranchTargets(old_absolute.data(), old_size, 0, old_code, true);
    diff::ConvertBranchTargets(new_absolute.data(), new_size, 0, new_code, true);
    std::vector<uint8_t> prefix;
    PutRanges(prefix, old_code);
    PutRanges(prefix, new_code);
    converted = Split(old_absolute.data(), old_size, new_absolute.data(), new_size, prefix,
                      diff::kBranchTargets);
  }
  Candidate first = plain.get();
  return Assemble(converted->CodedSize() < first.CodedSize() ? *converted : first, new_size, limit);
}

}  // namespace vard::mkpatch
