#include "mkpatch/delta/match_finder.h"

#include <divsufsort.h>
#include <divsufsort64.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vard::mkpatch {
namespace {

size_t CommonPrefix(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  const size_t n = std::min(an, bn);
  size_t i = 0;
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + static_cast<size_t>(__builtin_ctzll(x ^ y) / 8);
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

MatchFinder::MatchFinder(const uint8_t* old, size_t old_size) : old_(old), old_size_(old_size) {
  if (old_size == 0) return;
  if (old_size < (size_t{1} << 31)) {
    sa32_.resize(old_size);
    if (divsufsort(old, sa32_.data(), static_cast<saidx_t>(old_size)) != 0)
      throw std::runtime_error("suffix sorting failed");
  } else {
    sa64_.resize(old_size);
    if (divsufsort64(old, sa64_.data(), static_cast<saidx64_t>(old_size)) != 0)
      throw std::runtime_error("suffix sorting failed");
  }
}

size_t MatchFinder::Suffix(size_t rank) const {
  return sa32_.empty() ? static_cast<size_t>(sa64_[rank]) : static_cast<size_t>(sa32_[rank]);
}

Match MatchFinder::Longest(const uint8_t* data, size_t n) const {
  if (old_size_ == 0 || n == 0) return {};
  // Bisect the sorted suffixes; the longest match is next to where `data` would be inserted.
  size_t lo = 0, hi = old_size_ - 1;
  while (hi - lo > 1) {
    const size_t mid = lo + (hi - lo) / 2;
    const size_t pos = Suffix(mid);
    const size_t len = std::min(old_size_ - pos, n);
    const int cmp = std::memcmp(old_ + pos, data, len);
    if (cmp < 0 || (cmp == 0 && len < n && old_size_ - pos < n)) lo = mid;
    else hi = mid;
  }
  const size_t a = Suffix(lo), b = Suffix(hi);
  const size_t la = CommonPrefix(old_ + a, old_size_ - a, data, n);
  const size_t lb = CommonPrefix(old_ + b, old_size_ - b, data, n);
  return la >= lb ? Match{a, la} : Match{b, lb};
}

}  // namespace vard::mkpatch
