// Fuzz target of the diff decoder: the fast decoder (runs taken from the page, bulk
// copies) must agree, result and bytes, with a plain byte-at-a-time reading of the
// format, and its output must stay bounded by its input. Input layout: one byte n, then
// n bytes of old file (fewer if the input is shorter), then the diff.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/diff/decode_diff.h"
#include "engine/diff/diff_format.h"

namespace {

using Bytes = std::vector<unsigned char>;
using namespace vard::diff;

// The format read one byte at a time, failing where the decoder must fail.
bool Reference(const Bytes& old, const Bytes& diff, Bytes& out) {
  std::size_t d = 0;
  std::uint64_t pos = 0;
  enum { kNone, kInsert, kReplace } mode = kNone;
  auto next = [&]() -> int { return d < diff.size() ? diff[d++] : -1; };
  auto number = [&](std::uint64_t& n) {
    const int b = next();
    if (b < 0) return false;
    int width = b == 0xFC ? 1 : b == 0xFD ? 2 : b == 0xFE ? 4 : b == 0xFF ? 8 : 0;
    if (width == 0) { n = static_cast<std::uint64_t>(b) + 1; return true; }
    n = 0;
    for (int i = 0; i < width; ++i) {
      const int x = next();
      if (x < 0) return false;
      n = (n << 8) | static_cast<std::uint64_t>(x);
    }
    if (b == 0xFC) n += 253;
    return true;
  };
  auto data = [&](unsigned char b) {
    if (mode == kNone) return;
    out.push_back(b);
    if (mode == kReplace && pos < old.size()) ++pos;
  };
  for (;;) {
    const int b = next();
    if (b < 0) return true;
    if (b != 0xA7) { data(static_cast<unsigned char>(b)); continue; }
    const int c = next();
    if (c < 0) return false;
    std::uint64_t n = 0;
    switch (c) {
      case 0xA2:
        if (!number(n) || n > pos) return false;
        pos -= n; mode = kNone; break;
      case 0xA4:
        if (!number(n) || n > old.size() - pos) return false;
        pos += n; mode = kNone; break;
      case 0xA3:
        if (!number(n) || n > old.size() - pos) return false;
        for (std::uint64_t i = 0; i < n; ++i) out.push_back(old[pos++]);
        mode = kNone; break;
      case 0xA5: mode = kInsert; break;
      case 0xA6: mode = kReplace; break;
      case 0xA7: data(0xA7); break;
      default: data(0xA7); data(static_cast<unsigned char>(c));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size == 0) return 0;
  std::size_t old_size = input[0];
  if (old_size > size - 1) old_size = size - 1;
  const Bytes old(input + 1, input + 1 + old_size);
  const Bytes diff(input + 1 + old_size, input + size);

  MemoryDiffReader old_reader(old.data(), old.size());
  MemoryDiffReader diff_reader(diff.data(), diff.size());
  VectorDiffWriter writer;
  const bool ok = DecodeDiff(writer, old_reader, diff_reader);
  if (!writer.Flush()) std::abort();
  Bytes expected;
  const bool expected_ok = Reference(old, diff, expected);
  if (ok != expected_ok || writer.bytes() != expected) std::abort();
  if (writer.bytes().size() > diff.size() * (old.size() + 2)) std::abort();
  return 0;
}
