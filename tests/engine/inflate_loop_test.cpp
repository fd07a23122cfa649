// The shared inflation loop against zlib streams written by other tools (Python's zlib,
// pigz), and the checksum text.
#include "engine/inflate_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/crc_text.h"
#include "model/progress_tree.h"
#include "test_support/memory_source.h"

namespace vard {
namespace {

using Bytes = std::vector<unsigned char>;

class VectorSink final : public InflateSink {
 public:
  bool Write(const unsigned char* data, std::size_t count) override {
    if (fail_after >= 0 && writes++ >= fail_after) return false;
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }
  Bytes bytes;
  int fail_after = -1;
  int writes = 0;
};

// Pipes input through an external command, as files in a scratch folder.
Bytes Through(const std::string& command, const Bytes& input) {
  // Per process: other checkouts may run the same test at the same time.
  const auto dir = std::filesystem::temp_directory_path() /
                   ("vard-inflate-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto in = dir / "in", out = dir / "out";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  const std::string line = command + " < '" + in.string() + "' > '" + out.string() + "'";
  EXPECT_EQ(std::system(line.c_str()), 0) << line;
  std::ifstream result(out, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(result)), std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  return bytes;
}

const char kPythonZlib[] =
    "python3 -c \"import sys, zlib; sys.stdout.buffer.write(zlib.compress(sys.stdin.buffer.read(), 9))\"";
const char kPythonZlibWithDictionary[] =
    "python3 -c \"import sys, zlib; c = zlib.compressobj(9, zdict=b'dictionary words'); "
    "sys.stdout.buffer.write(c.compress(sys.stdin.buffer.read()) + c.flush())\"";
const char kPigz[] = "pigz -z -c";

Bytes Content(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) {
    // Part noise, part text-like repetition: compresses, but not to nothing.
    b[i] = (i / 4096) % 2 ? static_cast<unsigned char>(rng()) : static_cast<unsigned char>("patch data "[i % 11]);
  }
  return b;
}

bool Inflate(const Bytes& stream, Bytes& out, ProgressNode* node = nullptr) {
  test::MemorySource source(stream);
  VectorSink sink;
  const bool ok = InflateStream(source, sink, node);
  out = sink.bytes;
  return ok;
}

TEST(InflateStream, StreamsOfOtherToolsIncludingExactMebibytes) {
  for (const char* tool : {kPythonZlib, kPigz}) {
    for (std::size_t size : {std::size_t{1}, std::size_t{1} << 20, std::size_t{3} << 20,
                             (std::size_t{2} << 20) + 12345}) {
      const Bytes content = Content(size, static_cast<unsigned>(size));
      const Bytes stream = Through(tool, content);
      ASSERT_GT(stream.size(), 2u);
      Bytes out;
      EXPECT_TRUE(Inflate(stream, out)) << tool << " " << size;
      EXPECT_TRUE(out == content) << tool << " " << size << " got " << out.size();
    }
  }
}

TEST(InflateStream, IncompressibleDataWithInputLargerThanOneChunk) {
  const Bytes content = Content(std::size_t{5} << 20, 99);
  Bytes noisy = content;
  std::mt19937 rng(3);
  for (auto& b : noisy) b = static_cast<unsigned char>(rng());
  Bytes out;
  EXPECT_TRUE(Inflate(Through(kPythonZlib, noisy), out));
  EXPECT_TRUE(out == noisy);
}

TEST(InflateStream, TrailingGarbageIsIgnored) {
  const Bytes content = Content(std::size_t{1} << 20, 5);
  Bytes stream = Through(kPigz, content);
  const Bytes garbage = {'j', 'u', 'n', 'k', 0x78, 0xDA, 0x00};
  stream.insert(stream.end(), garbage.begin(), garbage.end());
  Bytes out;
  EXPECT_TRUE(Inflate(stream, out));
  EXPECT_TRUE(out == content);
}

TEST(InflateStream, BadStreamsFail) {
  const Bytes content = Content(300000, 8);
  const Bytes stream = Through(kPythonZlib, content);
  Bytes out;
  EXPECT_FALSE(Inflate(Bytes(stream.begin(), stream.end() - 10), out)) << "truncated";
  Bytes corrupt = stream;
  corrupt[corrupt.size() / 2] ^= 0xFF;
  corrupt[corrupt.size() / 2 + 1] ^= 0x55;
  EXPECT_FALSE(Inflate(corrupt, out)) << "corrupt";
  EXPECT_FALSE(Inflate(Through(kPythonZlibWithDictionary, content), out)) << "dictionary";
  EXPECT_FALSE(Inflate(Content(1000, 1), out)) << "not zlib";
}

TEST(InflateStream, FailedWriteFails) {
  const Bytes stream = Through(kPythonZlib, Content(std::size_t{3} << 20, 2));
  test::MemorySource source(stream);
  VectorSink sink;
  sink.fail_after = 1;
  EXPECT_FALSE(InflateStream(source, sink, nullptr));
}

TEST(InflateStream, AdvancesTheNodeByBytesWritten) {
  const Bytes content = Content(std::size_t{3} << 20, 4);
  ProgressNode node(content.size(), nullptr);
  Bytes out;
  ASSERT_TRUE(Inflate(Through(kPythonZlib, content), out, &node));
  EXPECT_EQ(node.done, content.size());
  ProgressNode small(10, nullptr);  // capped at the weight
  ASSERT_TRUE(Inflate(Through(kPythonZlib, content), out, &small));
  EXPECT_EQ(small.done, 10u);
}

TEST(CrcText, EightLowercaseDigitsWithLeadingZeros) {
  const unsigned char check[] = "123456789";
  EXPECT_EQ(CrcText(Crc32Update(0, check, 9)), "cbf43926");
  EXPECT_EQ(CrcText(0x00ABCDEFu), "00abcdef");
  EXPECT_EQ(CrcText(0), "00000000");
  // Continuing over pieces gives the checksum of the whole.
  EXPECT_EQ(Crc32Update(Crc32Update(0, check, 4), check + 4, 5), Crc32Update(0, check, 9));
}

}  // namespace
}  // namespace vard
