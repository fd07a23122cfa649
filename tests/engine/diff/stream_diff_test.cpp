// The stream-diff decoder against hand-built containers: the record semantics (old bytes
// plus differences, extra bytes, seeks both ways) and malformed containers that must fail
// at once without writing past the new size.
#include "engine/diff/stream_diff.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine/diff/branch_targets.h"
#include "engine/xz_stream.h"

namespace vard::diff {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Xz(const Bytes& raw, std::uint32_t dict = 1u << 16) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 0);
  options.dict_size = dict;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(lzma_stream_buffer_bound(raw.size()));
  std::size_t size = 0;
  EXPECT_EQ(lzma_stream_buffer_encode(const_cast<lzma_filter*>(filters), LZMA_CHECK_CRC32,
                                      nullptr, raw.data(), raw.size(), out.data(), &size,
                                      out.size()),
            LZMA_OK);
  out.resize(size);
  return out;
}

struct Record {
  std::uint64_t add, extra;
  std::int64_t seek;
};

Bytes Commands(std::initializer_list<Record> records) {
  Bytes raw;
  for (const Record& r : records) {
    unsigned char b[kStreamDiffRecordSize];
    PutLe64(b, r.add);
    PutLe64(b + 8, r.extra);
    PutLe64(b + 16, static_cast<std::uint64_t>(r.seek));
    raw.insert(raw.end(), b, b + sizeof b);
  }
  return raw;
}

Bytes Container(std::uint64_t new_size, const Bytes& commands, const Bytes& differences,
                const Bytes& extra) {
  Bytes out(kStreamDiffHeaderSize);
  std::memcpy(out.data(), kStreamDiffMagic, 4);
  PutLe64(out.data() + 4, new_size);
  const Bytes streams[3] = {Xz(commands), Xz(differences), Xz(extra)};
  for (int i = 0; i < 3; ++i) {
    PutLe64(out.data() + 12 + 8 * i, streams[i].size());
    out.insert(out.end(), streams[i].begin(), streams[i].end());
  }
  return out;
}

struct StreamDecoded {
  bool ok = false;
  Bytes out;
};

StreamDecoded DecodeStream(const Bytes& old, const Bytes& diff,
                           std::uint64_t expected = kAnyNewSize) {
  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader a(diff.data(), diff.size()), b(diff.data(), diff.size()),
      c(diff.data(), diff.size());
  VectorDiffWriter writer;
  StreamDecoded result;
  result.ok = DecodeStreamDiff(writer, old_reader, a, b, c, expected);
  EXPECT_TRUE(writer.Flush());
  result.out = writer.bytes();
  return result;
}

const Bytes kOld = {10, 20, 30, 40, 50, 60, 70, 80};

TEST(StreamDiff, RecordsAddDifferencesInsertExtraAndSeekBothWays) {
  // 3 old bytes + {0, 1, 255}, then "xy", seek back to 1; 2 bytes unchanged; seek to 6,
  // then the last 2 bytes; nothing extra.
  const Bytes diff = Container(9, Commands({{3, 2, -2}, {2, 0, 3}, {2, 0, 0}}),
                               {0, 1, 255, 0, 0, 0, 0}, {'x', 'y'});
  const StreamDecoded d = DecodeStream(kOld, diff, 9);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{10, 21, 29, 'x', 'y', 20, 30, 70, 80}));
}

TEST(StreamDiff, EmptyNewFileAndEmptyOldFile) {
  EXPECT_TRUE(DecodeStream(kOld, Container(0, {}, {}, {})).ok);
  const StreamDecoded d = DecodeStream({}, Container(3, Commands({{0, 3, 0}}), {}, {1, 2, 3}));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{1, 2, 3}));
}

TEST(StreamDiff, SeeksMayReachBothEndsOfTheOldFileButNotBeyond) {
  EXPECT_TRUE(DecodeStream(kOld, Container(1, Commands({{0, 0, 8}, {0, 0, -8}, {1, 0, 0}}), {0}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(0, Commands({{0, 0, 9}}), {}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(0, Commands({{0, 0, -1}}), {}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(0, Commands({{0, 0, INT64_MIN}}), {}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(0, Commands({{0, 0, INT64_MAX}}), {}, {})).ok);
}

TEST(StreamDiff, RecordsThatReachOutsideTheFilesFailBeforeWriting) {
  // add past the old file's end
  StreamDecoded d = DecodeStream(kOld, Container(9, Commands({{9, 0, 0}}), Bytes(9), {}));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.out.empty());
  // more bytes than the new size, by add or by extra: nothing beyond it is written
  d = DecodeStream(kOld, Container(2, Commands({{2, 0, 0}, {1, 0, 0}}), Bytes(3), {}));
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.out.size(), 2u);
  d = DecodeStream(kOld, Container(2, Commands({{0, ~std::uint64_t{0}, 0}}), {}, Bytes(5)));
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.out.empty());
}

TEST(StreamDiff, StreamsMustMatchTheRecordsExactly) {
  // too few difference or extra bytes
  EXPECT_FALSE(DecodeStream(kOld, Container(3, Commands({{3, 0, 0}}), {0, 0}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(3, Commands({{0, 3, 0}}), {}, {1, 2})).ok);
  // bytes left over in a stream
  EXPECT_FALSE(DecodeStream(kOld, Container(1, Commands({{1, 0, 0}}), {0, 0}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(1, Commands({{0, 1, 0}}), {}, {1, 2})).ok);
  // a record cut short
  Bytes commands = Commands({{1, 0, 0}});
  commands.pop_back();
  EXPECT_FALSE(DecodeStream(kOld, Container(1, commands, {0}, {})).ok);
  // fewer bytes than the header's new size, or a size other than the entry's
  EXPECT_FALSE(DecodeStream(kOld, Container(4, Commands({{1, 0, 0}}), {0}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(1, Commands({{1, 0, 0}}), {0}, {}), 2).ok);
}

TEST(StreamDiff, BadContainersFail) {
  const Bytes good = Container(1, Commands({{1, 0, 0}}), {0}, {});
  ASSERT_TRUE(DecodeStream(kOld, good).ok);
  Bytes bad = good;
  bad[0] = 'W';  // magic
  EXPECT_FALSE(DecodeStream(kOld, bad).ok);
  bad = good;
  bad.push_back(0);  // a byte after the last stream
  EXPECT_FALSE(DecodeStream(kOld, bad).ok);
  bad = good;
  bad.pop_back();  // the last stream cut short
  EXPECT_FALSE(DecodeStream(kOld, bad).ok);
  bad = good;
  PutLe64(bad.data() + 12, ~std::uint64_t{0});  // lengths that overflow
  EXPECT_FALSE(DecodeStream(kOld, bad).ok);
  EXPECT_FALSE(DecodeStream(kOld, Bytes(good.begin(), good.begin() + 20)).ok);
  // every single corrupted byte of the streams is caught by the format or its checks
  for (std::size_t i = kStreamDiffHeaderSize; i < good.size(); ++i) {
    bad = good;
    bad[i] ^= 0x55;
    const StreamDecoded d = DecodeStream(kOld, bad);
    EXPECT_FALSE(d.ok && d.out != Bytes{10}) << i;
  }
}

TEST(StreamDiff, ZeroRunCodedDifferences) {
  const std::uint64_t zero_runs = std::uint64_t{kZeroRuns} << 56;
  // A run of 4 zeros (length byte 3) spans the two records; 5 is a plain difference.
  const Bytes coded = {0, 3, 5, 0, 0};
  StreamDecoded d = DecodeStream(kOld, Container(7 | zero_runs, Commands({{3, 1, -3}, {3, 0, 0}}), coded, {'x'}), 7);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{10, 20, 30, 'x', 10, 25, 30}));
  // A length in several bytes: 200 zeros are 0x00, 0xC7, 0x01.
  const Bytes old(300, 9);
  d = DecodeStream(old, Container(200 | zero_runs, Commands({{200, 0, 0}}), {0, 0xC7, 0x01}, {}));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, Bytes(200, 9));
  // A run longer than the adds need, one cut short, a length of ten bytes, an unknown flag.
  EXPECT_FALSE(DecodeStream(kOld, Container(3 | zero_runs, Commands({{3, 0, 0}}), {0, 3}, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(3 | zero_runs, Commands({{3, 0, 0}}), {0, 1}, {})).ok);
  EXPECT_FALSE(DecodeStream(old, Container(3 | zero_runs, Commands({{3, 0, 0}}), {0, 0x80}, {})).ok);
  Bytes ten(11, 0x80);
  ten[0] = 0;
  ten.back() = 0;
  EXPECT_FALSE(DecodeStream(old, Container(3 | zero_runs, Commands({{3, 0, 0}}), ten, {})).ok);
  EXPECT_FALSE(DecodeStream(kOld, Container(1 | std::uint64_t{2} << 56, Commands({{1, 0, 0}}), {0}, {})).ok);
}

Bytes RangeTable(std::initializer_list<CodeRange> ranges, std::uint64_t count = ~std::uint64_t{0}) {
  Bytes out(8);
  PutLe64(out.data(), count != ~std::uint64_t{0} ? count : ranges.size());
  for (const CodeRange& r : ranges) {
    unsigned char b[24];
    PutLe64(b, r.start);
    PutLe64(b + 8, r.length);
    PutLe64(b + 16, r.address);
    out.insert(out.end(), b, b + 24);
  }
  return out;
}

TEST(StreamDiff, BranchTargetRangesMustBeWellFormed) {
  const std::uint64_t flag = std::uint64_t{kBranchTargets} << 56;
  const Bytes record = Commands({{8, 0, 0}});
  const auto decode = [&](const Bytes& old_table, const Bytes& new_table) {
    Bytes commands = old_table;
    commands.insert(commands.end(), new_table.begin(), new_table.end());
    commands.insert(commands.end(), record.begin(), record.end());
    return DecodeStream(kOld, Container(8 | flag, commands, Bytes(8), {}));
  };
  // No code anywhere: the old file as it is; code without E8 or E9 is left alone too.
  StreamDecoded d = decode(RangeTable({}), RangeTable({{0, 8, 0x1000}}));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, kOld);
  EXPECT_FALSE(decode(RangeTable({}, 17), RangeTable({})).ok);              // too many
  EXPECT_FALSE(decode(RangeTable({{4, 5, 0}}), RangeTable({})).ok);          // past the end
  EXPECT_FALSE(decode(RangeTable({}), RangeTable({{0, 4, 0}, {3, 2, 0}})).ok);  // overlapping
  EXPECT_FALSE(decode(RangeTable({}), Bytes(4)).ok);                         // cut short
}

// The conversion is undone exactly, and the windowed reader of the old file gives the
// bytes of converting the whole file at once, from any position.
// The conversion to absolute targets as the format states it, a byte at a time.
Bytes AbsolutePlainly(Bytes data, const CodeRanges& ranges) {
  for (std::size_t r = 0; r < ranges.count; ++r) {
    const CodeRange& range = ranges.ranges[r];
    const std::uint64_t end = range.start + range.length;
    for (std::uint64_t block = range.start; block < end; block = (block / 4096 + 1) * 4096) {
      const std::uint64_t to = std::min<std::uint64_t>(end, (block / 4096 + 1) * 4096);
      for (std::uint64_t at = block; at + 5 <= to;) {
        if (data[at] != 0xE8 && data[at] != 0xE9) {
          ++at;
          continue;
        }
        if (data[at + 4] == 0 || data[at + 4] == 0xFF) {
          std::uint32_t operand = 0;
          for (int i = 3; i >= 0; --i) operand = operand << 8 | data[at + 1 + static_cast<unsigned>(i)];
          std::int64_t target = static_cast<std::int32_t>(operand);
          target += static_cast<std::int64_t>(range.address + at + 5 - range.start);
          target = (target & 0x1FFFFFF) - (target & 0x1000000 ? 0x2000000 : 0);  // 25 bits
          for (int i = 0; i < 4; ++i) data[at + 1 + i] = static_cast<unsigned char>(target >> (8 * i));
        }
        at += 5;
      }
    }
  }
  return data;
}

TEST(BranchTargets, UndoneExactlyAndTheSameThroughTheReader) {
  std::mt19937 rng(3);
  Bytes code((std::size_t{200} << 10) + 1234);
  for (std::size_t i = 0; i < code.size(); ++i) {  // calls dense, then as sparse as in code
    const unsigned r = rng() % (i < code.size() / 2 ? 8 : 200);
    code[i] = r == 0 ? 0xE8 : r == 1 ? 0xE9 : r < 4 ? 0x00 : r == 4 ? 0xFF : static_cast<unsigned char>(rng());
  }
  const Bytes call = {0xE8, 0x10, 0x00, 0x00, 0x00};
  std::copy(call.begin(), call.end(), code.begin() + 100);
  CodeRanges ranges;
  ranges.count = 2;
  ranges.ranges[0] = {100, 70000, 0x401000};
  ranges.ranges[1] = {80000, code.size() - 80000, 0x7FFFF0};
  Bytes absolute = code;
  ConvertBranchTargets(absolute.data(), absolute.size(), 0, ranges, true);
  // The first call's target: 0x10 after the next instruction at 0x401005.
  EXPECT_EQ(Bytes(absolute.begin() + 100, absolute.begin() + 105),
            (Bytes{0xE8, 0x15, 0x10, 0x40, 0x00}));
  EXPECT_TRUE(absolute == AbsolutePlainly(code, ranges));
  Bytes back = absolute;
  ConvertBranchTargets(back.data(), back.size(), 0, ranges, false);
  EXPECT_TRUE(back == code);

  MemoryDiffReader inner(code.data(), code.size());
  AbsoluteTargetsReader reader(inner, ranges);
  for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{5000}, std::uint64_t{69999},
                                 std::uint64_t{150000}, std::uint64_t{4096 * 3 - 2},
                                 std::uint64_t{code.size() - 3}}) {
    reader.set_position(at);
    for (std::uint64_t i = 0; i < 3; ++i) ASSERT_EQ(reader.NextByte(), absolute[at + i]) << at;
  }
  reader.set_position(4);
  for (std::size_t i = 0; i < 70000; ++i) ASSERT_EQ(reader.NextByte(), absolute[i + 4]) << i;
}

TEST(StreamDiff, StreamsNeedingMoreMemoryThanTheLimitAreRefused) {
  Bytes diff = Container(1, Commands({{1, 0, 0}}), {0}, {});
  const Bytes big = Xz({0}, 64u << 20);  // a 64 MiB dictionary
  Bytes out(kStreamDiffHeaderSize);
  std::memcpy(out.data(), diff.data(), kStreamDiffHeaderSize);
  const std::size_t commands = GetLe64(diff.data() + 12);
  PutLe64(out.data() + 20, big.size());
  out.insert(out.end(), diff.begin() + kStreamDiffHeaderSize,
             diff.begin() + kStreamDiffHeaderSize + static_cast<std::ptrdiff_t>(commands));
  out.insert(out.end(), big.begin(), big.end());
  out.insert(out.end(), diff.end() - static_cast<std::ptrdiff_t>(GetLe64(diff.data() + 28)),
             diff.end());
  EXPECT_FALSE(DecodeStream(kOld, out).ok);
}

}  // namespace
}  // namespace vard::diff
