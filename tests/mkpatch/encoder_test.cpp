// The encoder's stages beyond round trips: the self-check's decode path, shifted code
// (where alignment matters), and the degenerate sizes through the builder's helpers.
#include <gtest/gtest.h>

#include <random>

#include "mkpatch/encode/diff_encoder.h"
#include "mkpatch/check/self_check.h"

#include "random_bytes.h"

namespace vard::mkpatch {
namespace {

using Bytes = std::vector<uint8_t>;

void ExpectRoundTrip(const Bytes& old, const Bytes& neu) {
  const Bytes diff = EncodeDiff(old.data(), old.size(), neu.data(), neu.size());
  Bytes rebuilt;
  ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt));
  ASSERT_EQ(rebuilt.size(), neu.size());
  EXPECT_TRUE(rebuilt == neu);
}

TEST(Encoder, DegenerateSizes) {
  std::mt19937 rng(1);
  const Bytes some = RandomBytes(rng, 1000);
  ExpectRoundTrip({}, {});
  ExpectRoundTrip({}, some);
  ExpectRoundTrip(some, {});
  ExpectRoundTrip(some, some);
  ExpectRoundTrip({0xA7}, {0xA7});
  ExpectRoundTrip({1}, {0xA7});
}

TEST(Encoder, IdenticalFileIsOneCopy) {
  std::mt19937 rng(2);
  const Bytes data = RandomBytes(rng, 100000);
  const Bytes diff = EncodeDiff(data.data(), data.size(), data.data(), data.size());
  EXPECT_LT(diff.size(), 16u);
}

TEST(Encoder, GeneratedPairsRoundTrip) {
  std::mt19937 rng(3);
  for (int round = 0; round < 60; ++round) {
    const size_t n = 1 + rng() % 200000;
    // Small alphabets make many repeats and many escape bytes.
    const int alphabet = round % 3 == 0 ? 4 : 256;
    Bytes old = RandomBytes(rng, n, alphabet);
    if (round % 5 == 0) for (size_t i = 0; i < old.size(); i += 3) old[i] = 0xA7;
    Bytes neu = old;
    const int edits = 1 + static_cast<int>(rng() % 40);
    for (int e = 0; e < edits && !neu.empty(); ++e) {
      const size_t at = rng() % neu.size();
      switch (rng() % 5) {
        case 0: neu[at] = static_cast<uint8_t>(0xA2 + rng() % 6); break;
        case 1: {
          const Bytes block = RandomBytes(rng, rng() % 3000, alphabet);
          neu.insert(neu.begin() + static_cast<long>(at), block.begin(), block.end());
          break;
        }
        case 2: neu.erase(neu.begin() + static_cast<long>(at),
                          neu.begin() + static_cast<long>(std::min(neu.size(), at + rng() % 3000)));
          break;
        case 3: {  // a block moved from elsewhere in the old file
          const size_t from = rng() % old.size();
          const size_t len = std::min<size_t>(old.size() - from, rng() % 5000);
          neu.insert(neu.begin() + static_cast<long>(at), old.begin() + static_cast<long>(from),
                     old.begin() + static_cast<long>(from + len));
          break;
        }
        default: {  // growth past the old end
          const Bytes tail = RandomBytes(rng, rng() % 2000, alphabet);
          neu.insert(neu.end(), tail.begin(), tail.end());
        }
      }
    }
    SCOPED_TRACE(round);
    ExpectRoundTrip(old, neu);
  }
}

TEST(Encoder, ShiftedCodeGivesSmallDiff) {
  // 4-byte offsets after an insertion all change: alignment must keep them as replaced
  // bytes between copies instead of sending the file again.
  std::mt19937 rng(4);
  Bytes old;
  for (int i = 0; i < 20000; ++i) {
    const Bytes op = RandomBytes(rng, 1 + rng() % 6, 16);
    old.insert(old.end(), op.begin(), op.end());
    if (i % 7 == 0) for (int k = 0; k < 4; ++k) old.push_back(static_cast<uint8_t>(rng()));
  }
  Bytes neu = old;
  for (size_t i = 40000; i + 4 < neu.size(); i += 37) neu[i] = static_cast<uint8_t>(neu[i] + 1);
  const Bytes diff = EncodeDiff(old.data(), old.size(), neu.data(), neu.size());
  Bytes rebuilt;
  ASSERT_TRUE(ApplyWithProductCode(old, diff, rebuilt));
  EXPECT_EQ(rebuilt, neu);
  EXPECT_LT(diff.size(), neu.size() / 5);
}

}  // namespace
}  // namespace vard::mkpatch
