// The archive diff: zip archives (with a prefix, in zip64 form) rebuilt entry by entry
// through the patcher's decoder, entries no zlib setting reproduces carried as they are,
// files that are not archives left to the other forms, and damaged containers refused
// without writing past the new size.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/diff/archive_diff.h"
#include "engine/diff/stream_diff.h"
#include "mkpatch/check/self_check.h"
#include "mkpatch/encode/archive/archive_diff_encoder.h"
#include "mkpatch/encode/archive/zip_reader.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/encode/payload_writer.h"

#include "random_bytes.h"
#include "zip_maker.h"

namespace vard::mkpatch {
namespace {

using Bytes = std::vector<uint8_t>;

// Text-like content: words from a small vocabulary, so that deflate finds matches.
Bytes Words(std::mt19937& rng, size_t n) {
  static const char* kWords[] = {"class ", "void ", "return ", "int ", "value", "(", ");\n", "name", "get", "set"};
  Bytes out;
  while (out.size() < n) {
    const char* w = kWords[rng() % 10];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(n);
  return out;
}

Bytes Edited(Bytes b, size_t at, const char* text) {
  b.insert(b.begin() + static_cast<ptrdiff_t>(at), text, text + std::strlen(text));
  return b;
}

struct Pair {
  Bytes old, neu;
};

// Old and new versions of an archive: entries changed at three zlib settings, one stored
// and changed, one renamed, one added, one removed, one unchanged.
Pair MakePair(const Bytes& prefix, bool zip64) {
  std::mt19937 rng(27);
  const Bytes main = Words(rng, 40000), big = Words(rng, 70000), fast = Words(rng, 9000),
              util = Words(rng, 5000), same = Words(rng, 3000), res = RandomBytes(rng, 2000);
  std::vector<ZipMakerEntry> old = {
      {"a/Main.class", main},
      {"a/Big.class", big, 8, 9, 9},
      {"a/Fast.class", fast, 8, 1, 7},
      {"res/image.bin", res, 0},
      {"lib/Util.class", util},
      {"gone.txt", Words(rng, 1000)},
      {"same.txt", same},
  };
  std::vector<ZipMakerEntry> neu = {
      {"a/Main.class", Edited(main, 1000, "newMethod();")},
      {"a/Big.class", Edited(big, 50000, "anotherField"), 8, 9, 9},
      {"a/Fast.class", Edited(fast, 10, "x"), 8, 1, 7},
      {"res/image.bin", Edited(res, 5, "px"), 0},
      {"lib2/Util.class", util},
      {"same.txt", same},
      {"added.txt", Words(rng, 2000)},
  };
  return {MakeZip(old, prefix, zip64), MakeZip(neu, prefix, zip64)};
}

TEST(ArchiveDiff, RebuildsEveryEntryExactlyWithPrefixAndZip64) {
  const struct {
    Bytes prefix;
    bool zip64;
  } kinds[] = {{{}, false}, {{'J', 'M', 1, 0}, false}, {Bytes(300, 0x90), true}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(testing::Message() << "prefix " << kind.prefix.size() << " zip64 " << kind.zip64);
    const Pair pair = MakePair(kind.prefix, kind.zip64);
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(ReadZip(pair.neu.data(), pair.neu.size(), entries));
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[0].data_offset, kind.prefix.size() + 30 + 12 + (kind.zip64 ? 20 : 0));

    ArchiveReport report;
    const Bytes diff = EncodeArchiveDiff(pair.old, pair.neu, &report);
    ASSERT_FALSE(diff.empty());
    EXPECT_EQ(diff[11], diff::kZeroRuns);  // the entries' differences are zero-run coded
    // Main, Big, Fast and the added entry are rebuilt; the renamed and the unchanged
    // entries keep their compressed bytes.
    EXPECT_EQ(report.rebuilt, 4u);
    EXPECT_EQ(report.unchanged, 2u);
    EXPECT_EQ(report.raw, 0u);
    Bytes rebuilt;
    ASSERT_TRUE(ApplyWithProductCode(pair.old, diff, rebuilt, 3));
    EXPECT_TRUE(rebuilt == pair.neu);
    EXPECT_EQ(RebuildFromShippedDiff(pair.old, diff, rebuilt), "");
    EXPECT_TRUE(rebuilt == pair.neu);
    // The point of the form: far smaller than diffing the compressed bytes.
    EXPECT_LT(diff.size() * 3, EncodeStreamDiff(pair.old.data(), pair.old.size(), pair.neu.data(),
                                                pair.neu.size()).size());
  }
}

// Two entries of another deflate implementation come first: the whole search gives up
// after the first, and the entry after them is still rebuilt at zlib's default.
TEST(ArchiveDiff, EntriesNoSettingReproducesAreCarriedAsTheyAre) {
  std::mt19937 rng(5);
  const Bytes a = Words(rng, 20000), b = Words(rng, 20000), c = Words(rng, 20000);
  const Bytes old = MakeZip({{"b", b}, {"c", c}, {"a", a}});
  const ZipMakerEntry foreign[] = {{"b", Edited(b, 100, "zz"), 8, 6, 8, Z_HUFFMAN_ONLY},
                                   {"c", Edited(c, 100, "zz"), 8, 6, 8, Z_RLE}};
  const Bytes neu = MakeZip({foreign[0], foreign[1], {"a", Edited(a, 7, "yy")}});
  ArchiveReport report;
  const Bytes diff = EncodeArchiveDiff(old, neu, &report);
  ASSERT_FALSE(diff.empty());
  EXPECT_EQ(report.rebuilt, 1u);
  EXPECT_EQ(report.raw, 2u);
  EXPECT_TRUE(report.search_cut_short);
  EXPECT_EQ(report.raw_bytes, RawDeflate(foreign[0].content, 6, 8, Z_HUFFMAN_ONLY).size() +
                                  RawDeflate(foreign[1].content, 6, 8, Z_RLE).size());
  Bytes rebuilt;
  ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt, 3));
  EXPECT_TRUE(rebuilt == neu);
}

TEST(ArchiveDiff, FilesThatAreNotArchivesGetTheOtherForms) {
  std::mt19937 rng(9);
  const Pair pair = MakePair({}, false);
  std::vector<ZipEntry> entries;
  Bytes cut(pair.neu.begin(), pair.neu.end() - 1);  // end record damaged
  EXPECT_FALSE(ReadZip(cut.data(), cut.size(), entries));
  Bytes moved = pair.neu;  // first central header's local offset points past the file
  const size_t end = moved.size() - 22;
  const size_t directory = moved[end + 16] | (moved[end + 17] << 8) | (moved[end + 18] << 16);
  moved[directory + 45] = 0x7F;
  EXPECT_FALSE(ReadZip(moved.data(), moved.size(), entries));
  const Bytes plain = RandomBytes(rng, 5000, 4);
  EXPECT_FALSE(ReadZip(plain.data(), plain.size(), entries));
  EXPECT_TRUE(EncodeArchiveDiff(plain, plain).empty());

  EncodeOptions options;
  EXPECT_EQ(EncodeDiffEntry(pair.old, pair.neu, options).diff_form, 3);
  EXPECT_NE(EncodeDiffEntry(pair.old, cut, options).diff_form, 3);
  options.diff_format = 2;
  EXPECT_EQ(EncodeDiffEntry(pair.old, pair.neu, options).diff_form, 2);
}

// The container with its entry table decoded, changed and compressed again.
Bytes WithTable(const Bytes& diff, const std::function<void(Bytes&)>& change) {
  diff::ArchiveDiffHeader header;
  EXPECT_TRUE(diff::ParseArchiveDiffHeader(diff.data(), diff.size(), header));
  const size_t table_at = diff::kArchiveDiffHeaderSize + header.lengths[0];
  const Bytes stream(diff.begin() + table_at, diff.begin() + table_at + header.lengths[1]);
  Bytes table;
  EXPECT_TRUE(InflateWithProductCode(stream, table, 2));
  change(table);
  const Bytes packed = CompressXz(table, XzKind::Bytes);
  Bytes out(diff.begin(), diff.begin() + table_at);
  out.insert(out.end(), packed.begin(), packed.end());
  out.insert(out.end(), diff.begin() + table_at + header.lengths[1], diff.end());
  diff::PutLe64(out.data() + 20, packed.size());
  return out;
}

TEST(ArchiveDiff, DamagedContainersAreRefusedWithoutWritingPastTheNewSize) {
  const Pair pair = MakePair({}, false);
  const Bytes diff = EncodeArchiveDiff(pair.old, pair.neu);
  ASSERT_FALSE(diff.empty());
  auto refused = [&](const Bytes& damaged) {
    Bytes out;
    const bool ok = ApplyWithProductCode(pair.old, damaged, out, 3);
    EXPECT_LE(out.size(), pair.neu.size());
    return !ok;
  };
  EXPECT_FALSE(refused(WithTable(diff, [](Bytes&) {})));  // the editing itself is sound
  for (size_t at = 0; at < diff.size(); at += 7) {
    Bytes damaged = diff;
    damaged[at] ^= 0x10;
    EXPECT_TRUE(refused(damaged)) << "byte " << at;
  }
  EXPECT_TRUE(refused(Bytes(diff.begin(), diff.end() - 1)));
  Bytes unknown_flag = diff;
  unknown_flag[11] |= 0x02;
  EXPECT_TRUE(refused(unknown_flag));
  // Records that decode but lie: the content's CRC, the compressed count, the order of
  // the entries, the kind of the base, a setting out of range.
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t[48] ^= 1; })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t[8] += 1; })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t[8] -= 1; })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) {
    std::swap_ranges(t.begin(), t.begin() + 64, t.begin() + 64);
  })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t[52] = 1; })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t[55] = 16; })));
  EXPECT_TRUE(refused(WithTable(diff, [](Bytes& t) { t.resize(t.size() - 64); })));
}

}  // namespace
}  // namespace vard::mkpatch
