// Checksums, inflation and diff application against real files under Wine, including a
// sparse file above 4 GiB.
#include "engine/payload.h"

#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/crc_text.h"
#include "engine/diff/apply_diff.h"
#include "engine/diff/diff_format.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = (i / 1000) % 3 ? static_cast<char>(x >> 16) : static_cast<char>('a' + i % 26);
  }
  return s;
}

std::string Compress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
            reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

std::string Crc(const std::string& data) {
  return CrcText(Crc32Update(0, reinterpret_cast<const unsigned char*>(data.data()), data.size()));
}

std::string Number(std::uint64_t n) {
  unsigned char bytes[9];
  const int count = diff::EncodeDiffNumber(n, bytes);
  return std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(count));
}
std::string Cmd(unsigned char code) { return std::string{'\xA7', static_cast<char>(code)}; }
std::string Copy(std::uint64_t n) { return Cmd(diff::kCopy) + Number(n); }
std::string Forward(std::uint64_t n) { return Cmd(diff::kSeekForward) + Number(n); }
std::string Back(std::uint64_t n) { return Cmd(diff::kSeekBack) + Number(n); }

// Opens a file without sharing for as long as it lives: what a running game does.
class Holder {
 public:
  explicit Holder(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Holder() { CloseHandle(handle_); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// An old file of 4 GiB + 1 byte that is all hole but its last byte 'Z'.
constexpr std::uint64_t kHuge = (std::uint64_t{1} << 32) + 1;
bool MakeHugeSparseFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(kHuge - 1);
  DWORD written = 0;
  const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                  WriteFile(file, "Z", 1, &written, nullptr) && written == 1;
  CloseHandle(file);
  return ok;
}

TEST(ComputeFileCrc, WholeFileInChunksWithProgress) {
  TempDir dir;
  const std::string data = Pattern(kMiB, 1);
  WriteFileBytes(dir.Path(L"a.bin"), data);
  ProgressNode node(2 * kMiB, nullptr);
  std::string text;
  ASSERT_TRUE(ComputeFileCrc(dir.Path(L"a.bin"), node, text));
  EXPECT_EQ(text, Crc(data));
  EXPECT_EQ(node.done, kMiB);

  const std::string longer = Pattern(3 * kMiB + 5, 2);
  WriteFileBytes(dir.Path(L"b.bin"), longer);
  ProgressNode small(100, nullptr);
  ASSERT_TRUE(ComputeFileCrc(dir.Path(L"b.bin"), small, text));
  EXPECT_EQ(text, Crc(longer));
  EXPECT_EQ(small.done, 100u);
}

TEST(ComputeFileCrc, KeepsLeadingZeros) {
  TempDir dir;
  std::string data = "seed";
  for (int i = 0; Crc(data).substr(0, 2) != "00"; ++i) data = "seed " + std::to_string(i);
  WriteFileBytes(dir.Path(L"z"), data);
  ProgressNode node(1, nullptr);
  std::string text;
  ASSERT_TRUE(ComputeFileCrc(dir.Path(L"z"), node, text));
  EXPECT_EQ(text.size(), 8u);
  EXPECT_EQ(text, Crc(data));
}

TEST(ComputeFileCrc, EmptyFilesHaveTheChecksumOfEmptyContentMissingAndHeldOnesNone) {
  TempDir dir;
  ProgressNode node(1, nullptr);
  std::string text;
  WriteFileBytes(dir.Path(L"empty"), "");
  ASSERT_TRUE(ComputeFileCrc(dir.Path(L"empty"), node, text));
  EXPECT_EQ(text, "00000000");
  text = "untouched";
  EXPECT_FALSE(ComputeFileCrc(dir.Path(L"missing"), node, text));
  WriteFileBytes(dir.Path(L"held"), "data");
  Holder holder(dir.Path(L"held"));
  ASSERT_TRUE(holder.held());
  EXPECT_FALSE(ComputeFileCrc(dir.Path(L"held"), node, text));
  EXPECT_EQ(text, "untouched");
}

TEST(InflateFile, InflatesExactMebibytesAndReplacesStaleTarget) {
  TempDir dir;
  const std::string data = Pattern(3 * kMiB, 3);
  WriteFileBytes(dir.Path(L"c.z"), Compress(data));
  WriteFileBytes(dir.Path(L"sub\\deeper\\out.bin"), "stale leftover");
  ProgressNode node(3 * kMiB, nullptr);
  ASSERT_TRUE(InflateFile(dir.Path(L"c.z"), dir.Path(L"sub\\deeper\\out.bin"), &node));
  EXPECT_TRUE(ReadFileBytes(dir.Path(L"sub\\deeper\\out.bin")) == data);
  EXPECT_EQ(node.done, 3 * kMiB);
  // Into folders that do not exist yet, without a node.
  ASSERT_TRUE(InflateFile(dir.Path(L"c.z"), dir.Path(L"new\\dir\\x.bin"), nullptr));
  EXPECT_TRUE(ReadFileBytes(dir.Path(L"new\\dir\\x.bin")) == data);
}

TEST(InflateFile, Failures) {
  TempDir dir;
  const std::string stream = Compress(Pattern(500000, 4));
  EXPECT_FALSE(InflateFile(dir.Path(L"missing"), dir.Path(L"o1"), nullptr));
  EXPECT_FALSE(PathExists(dir.Path(L"o1")));
  WriteFileBytes(dir.Path(L"empty"), "");
  EXPECT_FALSE(InflateFile(dir.Path(L"empty"), dir.Path(L"o2"), nullptr));
  EXPECT_FALSE(PathExists(dir.Path(L"o2")));
  WriteFileBytes(dir.Path(L"cut"), stream.substr(0, stream.size() - 20));
  EXPECT_FALSE(InflateFile(dir.Path(L"cut"), dir.Path(L"o3"), nullptr));
  // A target held open elsewhere cannot be cleared.
  WriteFileBytes(dir.Path(L"good"), stream);
  WriteFileBytes(dir.Path(L"o4"), "held");
  Holder holder(dir.Path(L"o4"));
  EXPECT_FALSE(InflateFile(dir.Path(L"good"), dir.Path(L"o4"), nullptr));
}

TEST(ApplyDiff, RebuildsAcrossPagesWithProgress) {
  TempDir dir;
  const std::string old = Pattern(2 * kMiB + 300, 5);
  const std::string diff = Copy(kMiB + 10) + Back(kMiB) + Forward(kMiB - 20) + Copy(40) +
                           Cmd(diff::kReplaceMode) + "xyz\xA7\xA7" + "\xA7" "A" +
                           Cmd(diff::kInsertMode) + "ins" + Copy(100);
  const std::uint64_t after = kMiB + 30 + 3 + 1 + 2;  // 40-byte copy, then 6 replaced bytes
  const std::string expected = old.substr(0, kMiB + 10) + old.substr(kMiB - 10, 40) +
                               "xyz\xA7\xA7" "A" + "ins" + old.substr(after, 100);
  WriteFileBytes(dir.Path(L"old"), old);
  WriteFileBytes(dir.Path(L"diff"), diff);
  WriteFileBytes(dir.Path(L"new"), "stale");
  ProgressNode node(expected.size(), nullptr);
  ASSERT_TRUE(ApplyDiff(dir.Path(L"new"), dir.Path(L"old"), dir.Path(L"diff"), &node));
  EXPECT_TRUE(ReadFileBytes(dir.Path(L"new")) == expected);
  EXPECT_EQ(node.done, expected.size());
  EXPECT_TRUE(ReadFileBytes(dir.Path(L"old")) == old);
}

TEST(ApplyDiff, EmptyDiffAndMissingInputs) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"old"), "old bytes");
  WriteFileBytes(dir.Path(L"empty"), "");
  ASSERT_TRUE(ApplyDiff(dir.Path(L"new"), dir.Path(L"old"), dir.Path(L"empty"), nullptr));
  EXPECT_TRUE(PathExists(dir.Path(L"new")));
  EXPECT_EQ(ReadFileBytes(dir.Path(L"new")), "");
  EXPECT_FALSE(ApplyDiff(dir.Path(L"n2"), dir.Path(L"missing"), dir.Path(L"empty"), nullptr));
  EXPECT_FALSE(ApplyDiff(dir.Path(L"n3"), dir.Path(L"old"), dir.Path(L"missing"), nullptr));
}

TEST(ApplyDiff, MalformedDiffsFailWithoutUnboundedOutput) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"old"), "0123456789");
  for (const std::string& bad :
       {Cmd(diff::kInsertMode) + "abc\xA7", Cmd(diff::kCopy), Cmd(diff::kCopy) + "\xFF\xFF",
        Copy(11), Forward(11), Copy(2) + Back(3)}) {
    WriteFileBytes(dir.Path(L"diff"), bad);
    EXPECT_FALSE(ApplyDiff(dir.Path(L"new"), dir.Path(L"old"), dir.Path(L"diff"), nullptr));
    EXPECT_LE(ReadFileBytes(dir.Path(L"new")).size(), 3u);
  }
}

TEST(ApplyDiff, NewPathThatCannotBeRemovedLeavesOldAlone) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"old"), "old bytes");
  WriteFileBytes(dir.Path(L"diff"), Copy(9));
  WriteFileBytes(dir.Path(L"new"), "held");
  Holder holder(dir.Path(L"new"));
  EXPECT_FALSE(ApplyDiff(dir.Path(L"new"), dir.Path(L"old"), dir.Path(L"diff"), nullptr));
  EXPECT_EQ(ReadFileBytes(dir.Path(L"old")), "old bytes");
}

TEST(LargeFiles, ChecksumAndDiffBeyondFourGibibytes) {
  TempDir dir;
  const std::wstring huge = dir.Path(L"huge.bin");
  ASSERT_TRUE(MakeHugeSparseFile(huge));
  std::uint64_t size = 0;
  ASSERT_TRUE(QueryFileSize(huge, size));
  ASSERT_EQ(size, kHuge);

  // Expected checksum of 4 GiB of zeros and a 'Z', by combining pieces.
  const std::string zeros(kMiB, '\0');
  const uLong zero_crc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), kMiB);
  uLong crc = 0;
  for (int i = 0; i < 4096; ++i) crc = crc32_combine(crc, zero_crc, static_cast<z_off_t>(kMiB));
  crc = crc32(crc, reinterpret_cast<const Bytef*>("Z"), 1);
  ProgressNode node(kHuge, nullptr);
  std::string text;
  ASSERT_TRUE(ComputeFileCrc(huge, node, text));
  EXPECT_EQ(text, CrcText(static_cast<std::uint32_t>(crc)));
  EXPECT_EQ(node.done, kHuge);

  // Positions past 4 GiB: seek to the last byte and copy it, then a few bytes back.
  WriteFileBytes(dir.Path(L"diff"), Forward(kHuge - 1) + Copy(1) + Back(3) + Copy(2) +
                                        Cmd(diff::kInsertMode) + "end");
  ASSERT_TRUE(ApplyDiff(dir.Path(L"new"), huge, dir.Path(L"diff"), nullptr));
  EXPECT_EQ(ReadFileBytes(dir.Path(L"new")), std::string("Z\0\0end", 6));
}

}  // namespace
}  // namespace vard
