// Exact-match search over the old file: "where in the old file does the longest prefix of
// these new bytes occur". Old files up to a limit get a full suffix array (libdivsufsort,
// 4 bytes per old byte); larger ones a sparse index of every 8th position (half a byte per
// old byte), so that a large file's encoding holds little more than the two files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard::mkpatch {

struct Match {
  size_t old_pos = 0;
  size_t length = 0;
};

class MatchFinder {
 public:
  // Old files up to this size get the full suffix array.
  static constexpr size_t kFullIndexLimit = size_t{16} << 20;
  // The sparse index sorts its positions by this many bytes; positions whose next bytes
  // agree that far stay in file order.
  static constexpr size_t kSortDepth = 32;

  // Keeps a reference to `old`, which must outlive the finder. `full_index_limit` is for
  // tests and benchmarks (above INT32_MAX the sparse index is used whatever it says).
  MatchFinder(const uint8_t* old, size_t old_size, size_t full_index_limit = kFullIndexLimit);

  // A longest match of new[0..n) in the old file; length 0 when the old file is empty. The
  // full index finds a longest match. The sparse index finds every match of at least
  // step + kSortDepth bytes whose old positions are not repeated elsewhere beyond
  // kSortDepth bytes; among repeats it looks at the one nearest `hint` (the old position
  // where the caller would like the match, such as the current alignment's) and the
  // earliest one, and may miss shorter matches than the full index finds.
  Match Longest(const uint8_t* data, size_t n, size_t hint = 0) const;

  // Bytes the index holds (for the caller's memory estimates and the tests).
  size_t index_bytes() const;
  bool sparse() const { return step_ != 0; }

 private:
  Match LongestFull(const uint8_t* data, size_t n) const;
  Match LongestSparse(const uint8_t* data, size_t n, size_t hint) const;
  // Orders the first kSortDepth bytes from old position a against those of the query q
  // (qn bytes, at most kSortDepth): -1 less, 0 when the old bytes start with all of q,
  // 1 greater.
  int CompareToQuery(size_t a, const uint8_t* q, size_t qn) const;

  const uint8_t* old_;
  size_t old_size_;
  std::vector<int32_t> sa_;  // full index: every suffix, sorted
  // Sparse index: old positions step_ * samples_[i], sorted by their first kSortDepth
  // bytes, then by position; buckets_[v] is the first rank whose first two bytes are v
  // (the two bytes read big-endian, a missing second byte as 0).
  size_t step_ = 0;
  std::vector<uint32_t> samples_;
  std::vector<uint32_t> buckets_;
};

}  // namespace vard::mkpatch
