// Fuzz target of the inflation loop that unpacks compressed payloads: whatever the stream
// and however the source hands it over, the loop must agree with a one-shot inflation of
// the whole input (same verdict, same bytes) and a failed write must fail the call. Input
// layout: one control byte, then the stream. Control bits 0-5: bytes per source read (0:
// all that fits); bit 6: the source reports its end as a read failure; bit 7: the sink
// refuses its first write.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/inflate_loop.h"
#include "test_support/memory_source.h"

namespace {

using Bytes = std::vector<unsigned char>;

class VectorSink final : public vard::InflateSink {
 public:
  explicit VectorSink(bool refuse) : refuse_(refuse) {}
  bool Write(const unsigned char* data, std::size_t count) override {
    if (count == 0) std::abort();  // the loop only hands on what inflate produced
    if (refuse_) return false;
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }
  Bytes bytes;

 private:
  bool refuse_;
};

// zlib over the whole input at once: true when the stream ends properly.
bool Reference(const Bytes& stream, Bytes& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) std::abort();
  z.next_in = const_cast<unsigned char*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  unsigned char buffer[16384];
  int result = Z_OK;
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
  } while (result == Z_OK);
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size == 0) return 0;
  const unsigned control = input[0];
  const Bytes stream(input + 1, input + size);

  Bytes expected;
  const bool expected_ok = Reference(stream, expected);

  vard::test::MemorySource source(stream, control & 0x3F, (control & 0x40) != 0);
  VectorSink sink((control & 0x80) != 0);
  const bool ok = vard::InflateStream(source, sink, nullptr);
  if (control & 0x80) {
    if (ok && !expected.empty()) std::abort();
    if (expected.empty() && ok != expected_ok) std::abort();
    return 0;
  }
  if (ok != expected_ok) std::abort();
  // Whatever was written, even by a failing call, is the start of the true output.
  if (sink.bytes.size() > expected.size() ||
      !std::equal(sink.bytes.begin(), sink.bytes.end(), expected.begin())) {
    std::abort();
  }
  if (ok && sink.bytes.size() != expected.size()) std::abort();
  return 0;
}
