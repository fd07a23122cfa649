// The sparse match index (the one large old files get): every match it reports is real,
// long matches are found wherever they start, and repeats (runs of one byte, periodic
// data) neither break it nor hide the repeat the caller asks for.
#include "mkpatch/encode/delta/match_finder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "random_bytes.h"

namespace vard::mkpatch {
namespace {

using Bytes = std::vector<uint8_t>;

// Random blocks, zero runs, a periodic stretch and copies of earlier blocks.
Bytes GameLike(std::mt19937& rng, size_t n) {
  Bytes out;
  while (out.size() < n) {
    const size_t len = 1 + rng() % 3000;
    switch (rng() % 4) {
      case 0: out.insert(out.end(), len, 0); break;
      case 1:
        for (size_t i = 0; i < len; ++i) out.push_back(static_cast<uint8_t>("abc"[i % 3]));
        break;
      case 2:
        if (out.size() > len) {
          const size_t from = rng() % (out.size() - len);
          out.insert(out.end(), out.begin() + static_cast<long>(from), out.begin() + static_cast<long>(from + len));
          break;
        }
        [[fallthrough]];
      default: {
        const Bytes r = RandomBytes(rng, len);
        out.insert(out.end(), r.begin(), r.end());
      }
    }
  }
  out.resize(n);
  return out;
}

void ExpectReal(const Bytes& old, const uint8_t* data, size_t n, const Match& m) {
  ASSERT_LE(m.length, n);
  ASSERT_LE(m.old_pos + m.length, old.size());
  EXPECT_EQ(0, std::memcmp(old.data() + m.old_pos, data, m.length)) << "at " << m.old_pos;
}

TEST(SparseMatchFinder, ReportsOnlyRealMatchesAndFindsLongOnes) {
  std::mt19937 rng(16);
  const Bytes old = GameLike(rng, 1 << 20);
  const MatchFinder sparse(old.data(), old.size(), 0);
  const MatchFinder full(old.data(), old.size());
  ASSERT_TRUE(sparse.sparse());
  ASSERT_FALSE(full.sparse());
  EXPECT_LE(sparse.index_bytes(), old.size() / 2 + 300'000);

  // Queries cut from an edited copy, at every alignment to the sampled positions.
  Bytes neu = old;
  for (int e = 0; e < 200; ++e) neu[rng() % neu.size()] ^= 0x5A;
  for (int t = 0; t < 3000; ++t) {
    const size_t at = rng() % neu.size();
    const size_t n = std::min<size_t>(1 + rng() % 5000, neu.size() - at);
    const Match m = sparse.Longest(neu.data() + at, n, rng() % old.size());
    ExpectReal(old, neu.data() + at, n, m);
    // Never longer than the longest there is; as long when that match is long and
    // its bytes appear nowhere else.
    EXPECT_LE(m.length, full.Longest(neu.data() + at, n).length);
  }

  // A planted unique stretch at every offset to the sampling step is found whole.
  for (size_t shift = 0; shift < 9; ++shift) {
    Bytes planted = old;
    const Bytes unique = RandomBytes(rng, 300);
    const size_t at = 500'000 + shift;
    std::copy(unique.begin(), unique.end(), planted.begin() + static_cast<long>(at));
    const MatchFinder finder(planted.data(), planted.size(), 0);
    const Match m = finder.Longest(unique.data(), unique.size());
    EXPECT_EQ(at, m.old_pos) << shift;
    EXPECT_EQ(unique.size(), m.length) << shift;
    // A query that starts 40 bytes into it and runs on into new bytes: still found.
    Bytes query(unique.begin() + 40, unique.end());
    query.insert(query.end(), 10, 0xEE);
    const Match tail = finder.Longest(query.data(), query.size(), 12345);
    EXPECT_EQ(at + 40, tail.old_pos) << shift;
    EXPECT_GE(tail.length, unique.size() - 40) << shift;
  }
}

TEST(SparseMatchFinder, RunsAndRepeatsFollowTheHint) {
  // One byte over and over, then a period of three: every sampled position ties with
  // thousands of others beyond the sort depth.
  Bytes old(300'000, 0);
  for (size_t i = 150'000; i < old.size(); ++i) old[i] = static_cast<uint8_t>("xyz"[i % 3]);
  const MatchFinder finder(old.data(), old.size(), 0);
  const Bytes zeros(1000, 0);
  for (size_t hint : {size_t{0}, size_t{77'777}, size_t{149'000}}) {
    const Match m = finder.Longest(zeros.data(), zeros.size(), hint);
    ExpectReal(old, zeros.data(), zeros.size(), m);
    EXPECT_EQ(zeros.size(), m.length);
  }
  // The run of zeros continued by "xyz": only its end matches all of it.
  Bytes edge(100, 0);
  edge.insert(edge.end(), old.begin() + 150'000, old.begin() + 150'200);
  const Match at_end = finder.Longest(edge.data(), edge.size(), 149'900);
  EXPECT_EQ(149'900u, at_end.old_pos);
  EXPECT_EQ(edge.size(), at_end.length);

  // The same block twice: the copy nearest the hint is chosen.
  std::mt19937 rng(3);
  const Bytes block = RandomBytes(rng, 500);
  Bytes twice = RandomBytes(rng, 200'000);
  std::copy(block.begin(), block.end(), twice.begin() + 10'003);
  std::copy(block.begin(), block.end(), twice.begin() + 150'005);
  twice[10'503] = twice[150'505] = 1;
  twice[10'504] = twice[150'506] = 2;
  const MatchFinder repeats(twice.data(), twice.size(), 0);
  EXPECT_EQ(10'003u, repeats.Longest(block.data(), block.size(), 9'000).old_pos);
  EXPECT_EQ(150'005u, repeats.Longest(block.data(), block.size(), 150'000).old_pos);
}

}  // namespace
}  // namespace vard::mkpatch
