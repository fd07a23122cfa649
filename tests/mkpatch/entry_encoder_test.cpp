// The second diff form and the per-file choice: stream diffs round-trip through the
// patcher's decoder at the degenerate sizes and on generated edits, beat the first form
// where code shifts, and the shipped bytes of either form rebuild the file by their
// first bytes alone; --diff-format 1 never produces anything an older patcher cannot read.
#include <gtest/gtest.h>

#include <random>

#include "engine/diff/stream_diff.h"
#include "mkpatch/encode/delta/code_ranges.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/check/self_check.h"

#include "random_bytes.h"

namespace vard::mkpatch {
namespace {

using Bytes = std::vector<uint8_t>;

void ExpectStreamRoundTrip(const Bytes& old, const Bytes& neu) {
  const Bytes diff = EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size());
  Bytes rebuilt;
  ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt, 2));
  EXPECT_TRUE(rebuilt == neu);
}

// Code-like bytes with embedded 4-byte addresses; the new version has a block inserted
// early and every address after it shifted, as a relinked executable does.
void ShiftedCode(std::mt19937& rng, Bytes& old, Bytes& neu) {
  std::vector<size_t> addresses;
  for (int i = 0; i < 30000; ++i) {
    const Bytes op = RandomBytes(rng, 1 + rng() % 6, 16);
    old.insert(old.end(), op.begin(), op.end());
    if (i % 5 == 0) {
      addresses.push_back(old.size());
      for (int k = 0; k < 4; ++k) old.push_back(static_cast<uint8_t>(rng()));
    }
  }
  neu = old;
  for (size_t at : addresses) neu[at] = static_cast<uint8_t>(neu[at] + 0x40);
  const Bytes block = RandomBytes(rng, 700);
  neu.insert(neu.begin() + 5000, block.begin(), block.end());
}

TEST(StreamDiffEncoder, DegenerateSizesAndGeneratedEdits) {
  std::mt19937 rng(11);
  const Bytes some = RandomBytes(rng, 1000);
  ExpectStreamRoundTrip({}, {});
  ExpectStreamRoundTrip({}, some);
  ExpectStreamRoundTrip(some, {});
  ExpectStreamRoundTrip(some, some);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const Bytes old = RandomBytes(rng, 1 + rng() % 50000, round % 2 ? 4 : 256);
    Bytes neu = old;
    for (int e = 0; e < 10 && !neu.empty(); ++e) {
      const size_t at = rng() % neu.size();
      if (rng() % 2) {
        const Bytes block = RandomBytes(rng, rng() % 2000);
        neu.insert(neu.begin() + static_cast<long>(at), block.begin(), block.end());
      } else {
        neu.erase(neu.begin() + static_cast<long>(at),
                  neu.begin() + static_cast<long>(std::min(neu.size(), at + rng() % 2000)));
      }
    }
    ExpectStreamRoundTrip(old, neu);
  }
}

// Past its in-memory share a pipe's stream goes through a temporary file; the bytes must
// be those of one call, and a diff over its limit is given up, not cut short. Empty
// pieces, as the zero-run coder hands on inside a long run, change nothing.
TEST(StreamDiffEncoder, SpilledStreamsAndTheLimitKeepTheBytes) {
  std::mt19937 rng(13);
  const Bytes noise = RandomBytes(rng, size_t{3} << 20);
  XzPipe pipe(XzKind::Bytes, noise.size(), 1);
  for (size_t at = 0; at < noise.size(); at += size_t{1} << 20) {
    Bytes piece(noise.begin() + static_cast<long>(at), noise.begin() + static_cast<long>(at + (size_t{1} << 20)));
    pipe.Append(piece);
    for (int i = 0; i < 3; ++i) {
      Bytes nothing;
      pipe.Append(nothing);
    }
  }
  const Bytes whole = CompressXz(noise, XzKind::Bytes);
  EXPECT_EQ(pipe.Finish(), whole.size());
  Bytes piped = {7};
  pipe.AppendTo(piped);
  EXPECT_TRUE(Bytes(piped.begin() + 1, piped.end()) == whole);

  Bytes old, neu;
  ShiftedCode(rng, old, neu);
  const Bytes diff = EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size());
  EXPECT_TRUE(EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size(), diff.size()).empty());
  EXPECT_TRUE(EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size(), diff.size() + 1) == diff);
}

// Differences that are nearly all zeros travel zero-run coded, with runs that cross the
// pieces in which they are handed to the compressor; the flag says so. Differences whose
// zeros are scattered singly travel plain, since coding them would only add bytes.
TEST(StreamDiffEncoder, ZeroRunsAreKeptWhenSmaller) {
  std::mt19937 rng(17);
  const Bytes old = RandomBytes(rng, (size_t{3} << 20) + 12345);
  Bytes sparse = old, dense = old;
  for (size_t at = 1000; at < sparse.size(); at += 50000 + rng() % 100000) sparse[at] ^= 0x5A;
  for (size_t at = 0; at < (size_t{1} << 20); ++at) {
    if (rng() % 3 != 0) dense[at] = static_cast<uint8_t>(dense[at] + 1 + rng() % 4);
  }
  for (const auto& [neu, flags] : {std::pair<Bytes, int>{sparse, diff::kZeroRuns}, std::pair<Bytes, int>{dense, 0}}) {
    const Bytes diff = EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size());
    ASSERT_GE(diff.size(), 12u);
    EXPECT_EQ(diff[11], flags);
    Bytes rebuilt;
    ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt, 2));
    EXPECT_TRUE(rebuilt == neu);
  }
}

void PutLittle32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A PE file whose one code section (file offset 0x400, address 0x1000) holds the code.
Bytes Pe(const Bytes& code) {
  Bytes pe(0x400, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  PutLittle32(pe, 0x3C, 0x80);
  PutLittle32(pe, 0x80, 0x4550);
  pe[0x86] = 1;     // sections
  pe[0x94] = 0xF0;  // optional header size
  const size_t section = 0x80 + 24 + 0xF0;
  PutLittle32(pe, section + 8, static_cast<uint32_t>(code.size()));
  PutLittle32(pe, section + 12, 0x1000);
  PutLittle32(pe, section + 16, static_cast<uint32_t>(code.size()));
  PutLittle32(pe, section + 20, 0x400);
  PutLittle32(pe, section + 36, 0x60000020);
  pe.insert(pe.end(), code.begin(), code.end());
  return pe;
}

// Code that calls functions at its start throughout, and a new version with a block
// inserted early: every later call's relative target moves, its absolute one does not.
// The diff with absolute targets is kept, and rebuilds the file through 1 MiB blocks.
TEST(StreamDiffEncoder, BranchTargetsOfExecutablesAreMadeAbsoluteWhenSmaller) {
  std::mt19937 rng(19);
  Bytes code;
  while (code.size() < (size_t{5} << 19)) {
    const Bytes op = RandomBytes(rng, 1 + rng() % 7, 0xE0);
    code.insert(code.end(), op.begin(), op.end());
    if (rng() % 3 == 0) {
      const uint32_t target = 0x1000 + rng() % 4096;
      const uint32_t next = 0x1000 + static_cast<uint32_t>(code.size()) + 5;
      code.push_back(0xE8);
      code.resize(code.size() + 4);
      PutLittle32(code, code.size() - 4, target - next);
    }
  }
  Bytes moved = code;
  const Bytes block = RandomBytes(rng, 300, 0xE0);
  moved.insert(moved.begin() + 100000, block.begin(), block.end());
  for (size_t at = 100000 + 300; at + 5 <= moved.size(); ++at) {  // calls after the block
    if (moved[at] != 0xE8) continue;
    uint32_t rel = 0;
    for (int i = 0; i < 4; ++i) rel |= static_cast<uint32_t>(moved[at + 1 + static_cast<size_t>(i)]) << (8 * i);
    PutLittle32(moved, at + 1, rel - 300);
    at += 4;
  }
  const Bytes old = Pe(code), neu = Pe(moved);
  const Bytes diff = EncodeStreamDiff(old.data(), old.size(), neu.data(), neu.size());
  ASSERT_GE(diff.size(), 12u);
  EXPECT_TRUE(diff[11] & diff::kBranchTargets);
  Bytes rebuilt;
  ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt, 2));
  EXPECT_TRUE(rebuilt == neu);
}

TEST(CodeRanges, ExecutableSectionsOfElfFiles) {
  Bytes elf(0x200, 0);
  elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[4] = 2, elf[5] = 1;
  PutLittle32(elf, 0x28, 0x100);  // section headers
  elf[0x3A] = 64;           // their size
  elf[0x3C] = 3;            // count: null, data, text
  const auto section = [&](size_t i, uint32_t flags, uint32_t address, uint32_t start, uint32_t size) {
    const size_t h = 0x100 + 64 * i;
    PutLittle32(elf, h + 4, 1);
    PutLittle32(elf, h + 8, flags);
    PutLittle32(elf, h + 16, address);
    PutLittle32(elf, h + 24, start);
    PutLittle32(elf, h + 32, size);
  };
  section(1, 0x2, 0x5000, 0x40, 0x20);
  section(2, 0x6, 0x401000, 0x60, 0x400);  // runs past the file: cut at its end
  const diff::CodeRanges ranges = FindCodeRanges(elf.data(), elf.size());
  ASSERT_EQ(ranges.count, 1u);
  EXPECT_EQ(ranges.ranges[0].start, 0x60u);
  EXPECT_EQ(ranges.ranges[0].length, 0x200u - 0x60u);
  EXPECT_EQ(ranges.ranges[0].address, 0x401000u);
  EXPECT_EQ(FindCodeRanges(elf.data(), 0x30).count, 0u);  // header cut short
}

TEST(EntryEncoder, StreamDiffWinsOnShiftedCodeAndBothFormsRebuildFromShippedBytes) {
  std::mt19937 rng(12);
  Bytes old, neu;
  ShiftedCode(rng, old, neu);
  const EncodedEntry second = EncodeDiffEntry(old, neu, EncodeOptions{2});
  const EncodedEntry first = EncodeDiffEntry(old, neu, EncodeOptions{1});
  EXPECT_EQ(second.diff_form, 2);
  EXPECT_FALSE(second.payload.comp);
  EXPECT_EQ(second.diff_size, second.payload.data.size());
  EXPECT_EQ(first.diff_form, 1);
  EXPECT_EQ(first.payload.codec, 1);
  EXPECT_LT(second.payload.data.size() * 2, first.payload.data.size());
  for (const EncodedEntry* entry : {&first, &second}) {
    Bytes rebuilt;
    EXPECT_EQ(RebuildFromShippedDiff(old, entry->payload.data, rebuilt), "");
    EXPECT_TRUE(rebuilt == neu);
  }
  // A stored first-form diff (no zlib header) is told apart too.
  Bytes rebuilt;
  Bytes stored;
  ASSERT_TRUE(InflateWithProductCode(first.payload.data, stored));
  EXPECT_EQ(RebuildFromShippedDiff(old, stored, rebuilt), "");
  EXPECT_TRUE(rebuilt == neu);
}

TEST(EntryEncoder, FormatOneUsesOnlyZlibAndTheEscapedDiff) {
  std::mt19937 rng(13);
  Bytes old, neu;
  ShiftedCode(rng, old, neu);
  const Bytes text(200000, 'a');
  Bytes other = RandomBytes(rng, 3000);
  for (const EncodedEntry& e : {EncodeEntry(&old, neu, false, EncodeOptions{1}),
                                EncodeEntry(nullptr, text, false, EncodeOptions{1}),
                                EncodeEntry(&other, text, true, EncodeOptions{1})}) {
    EXPECT_LE(e.payload.codec, 1);
    EXPECT_LE(e.diff_form, 1);
  }
  // The default takes xz for a whole file when it is smaller.
  const EncodedEntry whole = EncodeEntry(nullptr, text, false, EncodeOptions{2});
  EXPECT_EQ(whole.payload.codec, 2);
  Bytes rebuilt;
  EXPECT_EQ(RebuildWithProductCode(2, 0, {}, whole.payload.data, rebuilt), "");
  EXPECT_TRUE(rebuilt == text);
  // Room for exactly the stream gives the same stream; a byte less gives none.
  const Bytes xz = CompressXz(neu, XzKind::Whole);
  EXPECT_TRUE(CompressXz(neu, XzKind::Whole, xz.size()) == xz);
  EXPECT_TRUE(CompressXz(neu, XzKind::Whole, xz.size() - 1).empty());
}

}  // namespace
}  // namespace vard::mkpatch
