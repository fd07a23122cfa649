// Small payloads that expand far beyond the size their entry states: every decoder, writing
// through a writer limited to that size, stops within one chunk of it and fails.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <vector>

#include "engine/diff/decode_diff.h"
#include "engine/diff/diff_format.h"
#include "engine/diff/diff_writer.h"
#include "engine/inflate_loop.h"
#include "engine/xz_stream.h"
#include "test_support/memory_source.h"

namespace vard {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kLimit = std::uint64_t{1} << 20;  // the entry's size
constexpr std::uint64_t kChunk = std::uint64_t{1} << 20;  // the decoders' output chunk

// Hands the decoder's output to a limited writer and counts what the decoder produced.
class LimitedSink final : public InflateSink {
 public:
  explicit LimitedSink(diff::DiffWriter& writer) : writer_(writer) {}
  bool Write(const unsigned char* data, std::size_t count) override {
    produced += count;
    return writer_.Write(data, count);
  }
  std::uint64_t produced = 0;

 private:
  diff::DiffWriter& writer_;
};

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

Bytes Zlib(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

Bytes Xz(const Bytes& raw) {
  Bytes out(lzma_stream_buffer_bound(raw.size()));
  std::size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(1, LZMA_CHECK_CRC32, nullptr, raw.data(), raw.size(),
                                    out.data(), &size, out.size()),
            LZMA_OK);
  out.resize(size);
  return out;
}

void ExpectStoppedAtTheLimit(const diff::VectorDiffWriter& writer, std::uint64_t produced) {
  EXPECT_TRUE(writer.over_limit());
  EXPECT_LE(writer.bytes().size(), kLimit);
  EXPECT_LE(produced, kLimit + kChunk);
}

TEST(OutputLimit, WholePayloadBombsStopWithinAChunk) {
  // 16 MiB of zeros: about 16 KiB as zlib, 3 KiB as xz.
  const Bytes raw = Zeros(std::size_t{16} << 20);
  const Bytes zlib = Zlib(raw), xz = Xz(raw);
  for (const bool use_xz : {false, true}) {
    SCOPED_TRACE(use_xz ? "xz" : "zlib");
    diff::VectorDiffWriter writer;
    writer.set_limit(kLimit);
    LimitedSink sink(writer);
    test::MemorySource source(use_xz ? xz : zlib);
    EXPECT_FALSE(use_xz ? XzDecodeStream(source, sink, nullptr)
                        : InflateStream(source, sink, nullptr));
    writer.Flush();
    ExpectStoppedAtTheLimit(writer, sink.produced);
  }

  // A stream that ends exactly at the limit still decodes in full.
  diff::VectorDiffWriter writer;
  writer.set_limit(kLimit);
  LimitedSink sink(writer);
  const Bytes exact = Zlib(Zeros(kLimit));
  test::MemorySource source(exact);
  EXPECT_TRUE(InflateStream(source, sink, nullptr));
  EXPECT_TRUE(writer.Flush());
  EXPECT_FALSE(writer.over_limit());
  EXPECT_EQ(writer.bytes().size(), kLimit);
}

TEST(OutputLimit, DiffBombStopsWithinAChunk) {
  // Copy the whole 1 MiB old file and seek back, 200 times: 2.4 KiB of diff for 200 MiB.
  const Bytes old = Zeros(kLimit);
  Bytes diff;
  unsigned char number[9];
  for (int i = 0; i < 200; ++i) {
    for (const unsigned char command : {diff::kCopy, diff::kSeekBack}) {
      diff.push_back(diff::kEscape);
      diff.push_back(command);
      const int n = diff::EncodeDiffNumber(old.size(), number);
      diff.insert(diff.end(), number, number + n);
    }
  }
  // A few bytes over the limit are enough to fail.
  for (const std::uint64_t limit : {kLimit, kLimit * 3 - 1}) {
    diff::MemoryDiffReader old_reader(old.data(), old.size());
    diff::MemoryDiffReader diff_reader(diff.data(), diff.size());
    diff::VectorDiffWriter writer;
    writer.set_limit(limit);
    EXPECT_FALSE(diff::DecodeDiff(writer, old_reader, diff_reader));
    writer.Flush();
    EXPECT_TRUE(writer.over_limit());
    EXPECT_LE(writer.bytes().size(), limit);
    // Stopped at the first copy past the limit, not at the end of the diff.
    EXPECT_LT(diff_reader.position(), 24 * (limit / kLimit + 2));
  }
}

TEST(OutputLimit, PutPastTheLimitIsNeverHandedOn) {
  diff::VectorDiffWriter writer;
  writer.set_limit(3);
  for (unsigned char b = 0; b < 5; ++b) writer.Put(b);
  EXPECT_FALSE(writer.Flush());
  EXPECT_TRUE(writer.over_limit());
  EXPECT_TRUE(writer.bytes().empty());
  EXPECT_FALSE(writer.Write(reinterpret_cast<const unsigned char*>("x"), 1));
}

}  // namespace
}  // namespace vard
