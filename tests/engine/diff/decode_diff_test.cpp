// The diff decoder against hand-made diffs: every command, both escaping forms, the
// number forms, the edges of the old file, and malformed diffs that must fail at once.
#include "engine/diff/decode_diff.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/diff/diff_format.h"
#include "engine/diff/file_streams.h"

namespace vard::diff {
namespace {

using Bytes = std::vector<unsigned char>;

struct Decoded {
  bool ok = false;
  Bytes out;
};

Decoded Decode(const Bytes& old, const Bytes& diff) {
  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader diff_reader(diff.data(), diff.size());
  VectorDiffWriter writer;
  Decoded result;
  result.ok = DecodeDiff(writer, old_reader, diff_reader);
  EXPECT_TRUE(writer.Flush());
  result.out = writer.bytes();
  return result;
}

Bytes Sequence(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  return b;
}

std::uint64_t Number(const Bytes& bytes, bool* ok = nullptr) {
  MemoryDiffReader reader(bytes.data(), bytes.size());
  std::uint64_t value = 12345;
  const bool read = ReadDiffNumber(reader, value);
  if (ok != nullptr) *ok = read;
  return value;
}

TEST(ReadDiffNumber, AllForms) {
  EXPECT_EQ(Number({0x00}), 1u);
  EXPECT_EQ(Number({0xFB}), 252u);
  EXPECT_EQ(Number({0xFC, 0x00}), 253u);
  EXPECT_EQ(Number({0xFC, 0xFF}), 508u);
  EXPECT_EQ(Number({0xFD, 0x01, 0x00}), 256u);
  EXPECT_EQ(Number({0xFD, 0x00, 0x00}), 0u);
  EXPECT_EQ(Number({0xFE, 0x00, 0x40, 0x4C, 0x40}), 4213824u);
  EXPECT_EQ(Number({0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}), 0x100000001ull);
  EXPECT_EQ(Number({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), ~0ull);
}

TEST(ReadDiffNumber, CutShortFails) {
  for (const Bytes& cut : {Bytes{}, Bytes{0xFC}, Bytes{0xFD, 0x01}, Bytes{0xFE, 1, 2, 3},
                           Bytes{0xFF, 1, 2, 3, 4, 5, 6, 7}}) {
    bool ok = true;
    Number(cut, &ok);
    EXPECT_FALSE(ok) << cut.size();
  }
}

TEST(EncodeDiffNumber, ShortestFormsReadBack) {
  for (std::uint64_t n : {1ull, 252ull, 253ull, 508ull, 509ull, 65535ull, 65536ull,
                          0xFFFFFFFFull, 0x100000000ull, 0ull}) {
    unsigned char bytes[9];
    const int count = EncodeDiffNumber(n, bytes);
    EXPECT_EQ(Number(Bytes(bytes, bytes + count)), n);
    const int expected = n == 0 ? 3 : n <= 252 ? 1 : n <= 508 ? 2 : n <= 0xFFFF ? 3
                       : n <= 0xFFFFFFFF ? 5 : 9;
    EXPECT_EQ(count, expected) << n;
  }
}

TEST(DecodeDiff, ExampleCopyThenReplace) {
  const Bytes old = Sequence(200);
  const Decoded d = Decode(old, {0xA7, 0xA3, 0x7D, 0xA7, 0xA6, 0x20, 0x31, 0xA7, 0xA3, 0x01});
  ASSERT_TRUE(d.ok);
  Bytes expected(old.begin(), old.begin() + 126);
  expected.push_back(0x20);
  expected.push_back(0x31);
  expected.push_back(old[128]);  // replace stepped over old bytes 126 and 127
  expected.push_back(old[129]);
  EXPECT_EQ(d.out, expected);
}

TEST(DecodeDiff, EmptyDiffGivesEmptyFile) {
  const Decoded d = Decode(Sequence(10), {});
  EXPECT_TRUE(d.ok);
  EXPECT_TRUE(d.out.empty());
}

TEST(DecodeDiff, CopyOfWholeOldFile) {
  const Bytes old = Sequence(300);
  const Decoded d = Decode(old, {0xA7, 0xA3, 0xFD, 0x01, 0x2C});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, old);
}

TEST(DecodeDiff, InsertKeepsOldPositionSeeksMoveIt) {
  const Bytes old = Sequence(50);
  // insert "ab", copy 2, seek forward 10, copy 1, seek back 13, copy 1
  const Decoded d = Decode(old, {0xA7, 0xA5, 'a', 'b', 0xA7, 0xA3, 0x01, 0xA7, 0xA4, 0x09,
                                 0xA7, 0xA3, 0x00, 0xA7, 0xA2, 0x0C, 0xA7, 0xA3, 0x00});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{'a', 'b', old[0], old[1], old[12], old[0]}));
}

TEST(DecodeDiff, EscapingForms) {
  // Doubled escape, and an escape standing alone before a non-command byte, in insert
  // mode; in replace mode each data byte steps over one old byte.
  Decoded d = Decode({}, {0xA7, 0xA5, 0xA7, 0xA7, 0xA7, 0x41, 0xA7, 0xA8, 0xA7, 0xA1});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{0xA7, 0xA7, 0x41, 0xA7, 0xA8, 0xA7, 0xA1}));

  const Bytes old = Sequence(10);
  d = Decode(old, {0xA7, 0xA6, 0xA7, 0x41, 0xA7, 0xA7, 0xA7, 0xA3, 0x00});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{0xA7, 0x41, 0xA7, old[3]}));
}

TEST(DecodeDiff, DataOutsideInsertAndReplaceIsDropped) {
  const Bytes old = Sequence(20);
  const Decoded d = Decode(old, {'x', 0xA7, 0x41, 0xA7, 0xA3, 0x01, 'y', 0xA7, 0xA7,
                                 0xA7, 0xA4, 0x00, 'z', 0xA7, 0xA5, 'k'});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, (Bytes{old[0], old[1], 'k'}));
}

TEST(DecodeDiff, ReplaceGrowsPastOldEnd) {
  const Bytes old = Sequence(4);
  const Decoded d = Decode(old, {0xA7, 0xA3, 0x01, 0xA7, 0xA6, 'a', 'b', 'c', 'd', 'e',
                                 0xA7, 0xA2, 0x00, 0xA7, 0xA3, 0x00});
  ASSERT_TRUE(d.ok);  // replace stopped at the end (4), so seeking back 1 lands on 3
  EXPECT_EQ(d.out, (Bytes{old[0], old[1], 'a', 'b', 'c', 'd', 'e', old[3]}));
}

TEST(DecodeDiff, SeekEdges) {
  const Bytes old = Sequence(10);
  // Forward to exactly the end, then back to exactly 0.
  Decoded d = Decode(old, {0xA7, 0xA4, 0x09, 0xA7, 0xA2, 0x09, 0xA7, 0xA3, 0x00});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.out, Bytes{old[0]});
  EXPECT_FALSE(Decode(old, {0xA7, 0xA4, 0x0A}).ok);
  EXPECT_FALSE(Decode(old, {0xA7, 0xA3, 0x00, 0xA7, 0xA2, 0x01}).ok);
  // A seek back far beyond the start must not wrap round to a valid position.
  EXPECT_FALSE(Decode(old, {0xA7, 0xA4, 0x04, 0xA7, 0xA2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0xFF, 0xFF, 0xFF, 0xFB}).ok);
  // Nor may a huge forward seek wrap.
  EXPECT_FALSE(Decode(old, {0xA7, 0xA4, 0x04, 0xA7, 0xA4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0xFF, 0xFF, 0xFF, 0xFD}).ok);
}

TEST(DecodeDiff, MalformedDiffsFailAtOnceWithoutWritingTheBadPart) {
  const Bytes old = Sequence(10);
  // Escape as the last byte.
  Decoded d = Decode(old, {0xA7, 0xA5, 'a', 0xA7});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.out, Bytes{'a'});
  // Numbers cut short, the first byte included.
  EXPECT_FALSE(Decode(old, {0xA7, 0xA3}).ok);
  EXPECT_FALSE(Decode(old, {0xA7, 0xA3, 0xFF, 0xFF, 0xFF}).ok);
  EXPECT_FALSE(Decode(old, {0xA7, 0xA2, 0xFE, 0x00}).ok);
  // A copy past the end writes nothing of itself.
  d = Decode(old, {0xA7, 0xA3, 0x01, 0xA7, 0xA3, 0x08});
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.out, (Bytes{old[0], old[1]}));
  // The enormous copy a cut number used to ask for.
  d = Decode(old, {0xA7, 0xA3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_FALSE(d.ok);
  EXPECT_TRUE(d.out.empty());
}

// A writer whose file refuses the second block.
class FailingWriter final : public DiffWriter {
 public:
  FailingWriter() { Start(nullptr); }
  ~FailingWriter() override { ReleaseBuffer(); }
  int blocks = 0;

 protected:
  bool Deliver(const unsigned char*, std::size_t) override { return ++blocks < 2; }
};

TEST(DecodeDiff, FailedWriteStopsDecoding) {
  const Bytes old(3 << 20, 0x11);
  const Bytes diff = {0xA7, 0xA3, 0xFE, 0x00, 0x30, 0x00, 0x00};
  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader diff_reader(diff.data(), diff.size());
  FailingWriter writer;
  EXPECT_FALSE(DecodeDiff(writer, old_reader, diff_reader));
  EXPECT_EQ(writer.blocks, 2);
}

// A writer held to a limit hands nothing past it on, however much the diff asks for.
TEST(DecodeDiff, WriterLimitStopsAnOverlongDiff) {
  const Bytes old(3 << 20, 0x11);
  const Bytes diff = {0xA7, 0xA3, 0xFE, 0x00, 0x30, 0x00, 0x00};
  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader diff_reader(diff.data(), diff.size());
  VectorDiffWriter writer;
  writer.set_limit((1 << 20) + 1);
  EXPECT_FALSE(DecodeDiff(writer, old_reader, diff_reader) && writer.Flush());
  EXPECT_EQ(writer.bytes().size(), std::size_t{1} << 20);
}

// A file reader over memory that counts what it reads, to hold the reader to its bound.
class CountingReader final : public PagedFileReaderBase {
 public:
  explicit CountingReader(const Bytes& bytes) : bytes_(bytes) {
    EnsureBuffer();
    Reset(bytes.size());
  }
  ~CountingReader() override { ReleaseBuffer(); }
  std::uint64_t read = 0, calls = 0;

 protected:
  bool ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) override {
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), length, buffer);
    read += length;
    ++calls;
    return true;
  }

 private:
  const Bytes& bytes_;
};

TEST(PagedFileReader, ReadsWhatSeeksNeedAndWholePagesWhenSequential) {
  const std::size_t page = PagedFileReaderBase::kPageSize;
  const Bytes old = Sequence(8 * page + 123);
  // A copy of the whole file goes a page per read once the reads have doubled up.
  CountingReader whole(old);
  VectorDiffWriter writer;
  Bytes diff = {0xA7, 0xA3, 0xFE};
  for (int i = 3; i >= 0; --i) diff.push_back(static_cast<unsigned char>(old.size() >> (8 * i)));
  MemoryDiffReader diff_reader(diff.data(), diff.size());
  ASSERT_TRUE(DecodeDiff(writer, whole, diff_reader));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(writer.bytes(), old);
  EXPECT_EQ(whole.read, old.size());
  EXPECT_LE(whole.calls, 8u + 5u);

  // Short runs at scattered places, backwards and forwards, each read what its seek
  // needs: a first read and its alignment, not a whole page.
  CountingReader scattered(old);
  const std::uint64_t places[] = {5 * page + 1000, 100, 7 * page + 4095, 3 * page - 10,
                                  8 * page + 50, 2 * page};
  for (const std::uint64_t at : places) {
    scattered.set_position(at);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(scattered.NextByte(), old[at + i]) << at;
  }
  EXPECT_LE(scattered.read, std::size(places) * (PagedFileReaderBase::kFirstRead +
                                                 PagedFileReaderBase::kAlign));
  scattered.set_position(old.size());
  EXPECT_EQ(scattered.NextByte(), -1);
}

class FileStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vard-diff-" + std::to_string(::getpid()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path Write(const char* name, const Bytes& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  Bytes Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::path dir_;
};

TEST_F(FileStreams, CopiesAndSeeksAcrossPages) {
  const std::size_t page = PagedFileReaderBase::kPageSize;
  const Bytes old = Sequence(3 * page + 17);
  // Copy 1.5 pages, seek back into page 0, copy across a page edge, then replace data
  // across another page edge, and copy to the last byte.
  Bytes diff = {0xA7, 0xA3, 0xFE, 0x00, 0x18, 0x00, 0x00,   // copy 1.5 MiB
                0xA7, 0xA2, 0xFE, 0x00, 0x17, 0xFF, 0xF0,   // back to 16
                0xA7, 0xA4, 0xFE, 0x00, 0x0F, 0xFF, 0xE0,   // forward to page - 16
                0xA7, 0xA3, 0x1F,                           // copy 32 over the edge
                0xA7, 0xA6, 'r', 's', 't'};
  Bytes expected(old.begin(), old.begin() + page + page / 2);
  expected.insert(expected.end(), old.begin() + page - 16, old.begin() + page + 16);
  expected.insert(expected.end(), {'r', 's', 't'});
  const std::uint64_t at = page + 16 + 3;
  unsigned char number[9];
  diff.insert(diff.end(), {0xA7, 0xA3});
  const int count = EncodeDiffNumber(old.size() - at, number);
  diff.insert(diff.end(), number, number + count);
  expected.insert(expected.end(), old.begin() + static_cast<std::ptrdiff_t>(at), old.end());

  FileDiffReader old_reader, diff_reader;
  ASSERT_TRUE(old_reader.Open(Write("old", old)));
  ASSERT_TRUE(diff_reader.Open(Write("diff", diff)));
  FileDiffWriter writer;
  ASSERT_TRUE(writer.Open(dir_ / "new", nullptr));
  EXPECT_FALSE(writer.Open(dir_ / "old", nullptr));  // never over an existing file
  ASSERT_TRUE(writer.Open(dir_ / "new2", nullptr));
  ASSERT_TRUE(DecodeDiff(writer, old_reader, diff_reader));
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ(Read(dir_ / "new2"), expected);
}

TEST_F(FileStreams, ReaderOfEmptyAndMissingFiles) {
  FileDiffReader reader;
  EXPECT_FALSE(reader.Open(dir_ / "missing"));
  ASSERT_TRUE(reader.Open(Write("empty", {})));
  EXPECT_EQ(reader.NextByte(), -1);
}

}  // namespace
}  // namespace vard::diff
