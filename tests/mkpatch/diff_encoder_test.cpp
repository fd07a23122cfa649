// Round trips of the diff encoder through the product's decoder over many generated
// pairs of old and new files, and the shape of what it writes.
#include "mkpatch/encode/diff_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/diff/decode_diff.h"
#include "engine/diff/diff_format.h"
#include "mkpatch/encode/diff_emitter.h"

namespace vard::mkpatch {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Apply(const Bytes& old, const Bytes& diff, bool* ok) {
  diff::MemoryDiffReader old_reader(old.data(), old.size());
  diff::MemoryDiffReader diff_reader(diff.data(), diff.size());
  diff::VectorDiffWriter writer;
  *ok = diff::DecodeDiff(writer, old_reader, diff_reader) && writer.Flush();
  return writer.bytes();
}

void ExpectRoundTrip(const Bytes& old, const Bytes& neu, const char* what) {
  const Bytes diff = EncodeDiff(old.data(), old.size(), neu.data(), neu.size());
  bool ok = false;
  const Bytes rebuilt = Apply(old, diff, &ok);
  ASSERT_TRUE(ok) << what;
  ASSERT_TRUE(rebuilt == neu) << what << ": old " << old.size() << " new " << neu.size();
}

// Bytes drawn from a small alphabet that is rich in the escape and command bytes, so
// that every escaping case turns up.
Bytes Random(std::mt19937& rng, std::size_t n, bool escape_rich) {
  static const unsigned char kRich[] = {0xA7, 0xA7, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA8,
                                        0xA1, 0x00, 0x41, 0xFF};
  Bytes b(n);
  for (auto& x : b) {
    x = escape_rich ? kRich[rng() % sizeof kRich] : static_cast<unsigned char>(rng());
  }
  return b;
}

// The kinds of change real file versions show: bytes changed in place, runs inserted
// and removed, blocks moved, the tail cut or grown.
Bytes Mutate(std::mt19937& rng, Bytes b, bool escape_rich) {
  const int edits = 1 + static_cast<int>(rng() % 12);
  for (int e = 0; e < edits; ++e) {
    const std::size_t at = b.empty() ? 0 : rng() % b.size();
    const std::size_t len = 1 + rng() % 300;
    switch (rng() % 5) {
      case 0:
        for (std::size_t k = at; k < std::min(b.size(), at + len); k += 1 + rng() % 7) {
          b[k] = static_cast<unsigned char>(rng());
        }
        break;
      case 1: {
        const Bytes ins = Random(rng, len, escape_rich);
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
        break;
      }
      case 2:
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + len)));
        break;
      case 3:
        if (b.size() > 2 * len) {
          const std::size_t from = rng() % (b.size() - len);
          Bytes block(b.begin() + static_cast<std::ptrdiff_t>(from),
                      b.begin() + static_cast<std::ptrdiff_t>(from + len));
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), block.begin(), block.end());
        }
        break;
      default: {
        const Bytes tail = Random(rng, len, escape_rich);
        if (rng() % 2) b.resize(at);
        b.insert(b.end(), tail.begin(), tail.end());
      }
    }
  }
  return b;
}

TEST(EncodeDiff, RoundTripsGeneratedPairs) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 400; ++round) {
    const bool rich = round % 3 == 0;
    const std::size_t size = round % 10 == 0 ? rng() % 40 : rng() % 20000;
    const Bytes old = Random(rng, size, rich);
    const Bytes neu = round % 17 == 0 ? Random(rng, rng() % 5000, rich) : Mutate(rng, old, rich);
    ExpectRoundTrip(old, neu, "generated");
  }
}

TEST(EncodeDiff, RoundTripsEdgeShapes) {
  std::mt19937 rng(7);
  const Bytes some = Random(rng, 5000, false);
  ExpectRoundTrip({}, {}, "both empty");
  ExpectRoundTrip(some, {}, "new empty");
  ExpectRoundTrip({}, some, "old empty");
  ExpectRoundTrip(some, some, "identical");
  ExpectRoundTrip(Bytes(1000, 0xA7), Bytes(1001, 0xA7), "all escapes");
  ExpectRoundTrip({0x01}, {0xA7}, "lone escape at the end");
  Bytes grown = some;
  grown.insert(grown.end(), some.begin(), some.end());
  ExpectRoundTrip(some, grown, "repeated");
}

TEST(EncodeDiff, SimilarFilesGiveSmallDiffs) {
  std::mt19937 rng(11);
  const Bytes old = Random(rng, 200000, false);
  Bytes neu = old;
  for (std::size_t k = 1000; k < neu.size(); k += 5000) neu[k] ^= 0x5A;  // in-place edits
  neu.insert(neu.begin() + 70000, old.begin() + 150000, old.begin() + 160000);  // moved
  const Bytes diff = EncodeDiff(old.data(), old.size(), neu.data(), neu.size());
  EXPECT_LT(diff.size(), 1000u);
  bool ok = false;
  EXPECT_TRUE(Apply(old, diff, &ok) == neu && ok);
}

TEST(DiffEmitter, WritesBothEscapingForms) {
  DiffEmitter emitter;
  const unsigned char data[] = {0xA7, 0x41, 0xA7, 0xA3, 0xA7};
  emitter.Insert(data, sizeof data);
  const Bytes diff = emitter.Finish();
  // Alone before 0x41, doubled before a command byte and at the very end.
  EXPECT_EQ(diff, (Bytes{0xA7, 0xA5, 0xA7, 0x41, 0xA7, 0xA7, 0xA3, 0xA7, 0xA7}));
}

TEST(DiffEmitter, CommandsAndModes) {
  DiffEmitter emitter;
  const unsigned char x[] = {'x'};
  emitter.Copy(300);
  emitter.Replace(x, 1, 1000);
  emitter.Replace(x, 1, 1000);  // same mode: no second command
  emitter.SeekTo(2);
  emitter.SeekTo(70000);
  emitter.Insert(x, 1);
  EXPECT_EQ(emitter.old_position(), 70000u);
  EXPECT_EQ(emitter.Finish(),
            (Bytes{0xA7, 0xA3, 0xFC, 300 - 253, 0xA7, 0xA6, 'x', 'x', 0xA7, 0xA2, 0xFC, 300 - 253,
                   0xA7, 0xA4, 0xFE, 0x00, 0x01, 0x11, 0x6E, 0xA7, 0xA5, 'x'}));
}

}  // namespace
}  // namespace vard::mkpatch
