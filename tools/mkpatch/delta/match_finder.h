// Exact-match search over the old file: a suffix array (libdivsufsort) built once per old
// file answers "where in the old file does the longest prefix of these new bytes occur".
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
  // Keeps a reference to `old`, which must outlive the finder. Memory: 4 bytes per old byte
  // (8 for old files of 2 GiB or more).
  MatchFinder(const uint8_t* old, size_t old_size);

  // Longest match of new[0..n) in the old file; length 0 when the old file is empty.
  Match Longest(const uint8_t* data, size_t n) const;

 private:
  size_t Suffix(size_t rank) const;
  const uint8_t* old_;
  size_t old_size_;
  std::vector<int32_t> sa32_;
  std::vector<int64_t> sa64_;
};

}  // namespace vard::mkpatch
