#include "mkpatch/encode/delta/match_finder.h"

#include <divsufsort.h>

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

// memcmp's sign over n bytes, a word at a time.
int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    i += 8;
  }
  for (; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

constexpr size_t kSparseStep = 8;

size_t Distance(size_t a, size_t b) { return a < b ? b - a : a - b; }

}  // namespace

MatchFinder::MatchFinder(const uint8_t* old, size_t old_size, size_t full_index_limit)
    : old_(old), old_size_(old_size) {
  if (old_size == 0) return;
  if (old_size <= std::min<size_t>(full_index_limit, INT32_MAX)) {
    sa_.resize(old_size);
    if (divsufsort(old, sa_.data(), static_cast<saidx_t>(old_size)) != 0)
      throw std::runtime_error("suffix sorting failed");
    return;
  }
  step_ = kSparseStep;
  while ((old_size - 1) / step_ >= UINT32_MAX) step_ *= 2;
  const size_t count = (old_size - 1) / step_ + 1;
  auto bucket_of = [&](size_t sample) {
    const size_t p = sample * step_;
    return (size_t{old[p]} << 8) | (p + 1 < old_size ? old[p + 1] : 0);
  };
  // A counting sort by the first two bytes (stable, so each bucket is in file order) ...
  buckets_.assign(65537, 0);
  for (size_t i = 0; i < count; ++i) ++buckets_[bucket_of(i) + 1];
  for (size_t v = 0; v < 65536; ++v) buckets_[v + 1] += buckets_[v];
  samples_.resize(count);
  {
    std::vector<uint32_t> next(buckets_.begin(), buckets_.end() - 1);
    for (size_t i = 0; i < count; ++i) samples_[next[bucket_of(i)]++] = static_cast<uint32_t>(i);
  }
  // ... then each bucket by its first kSortDepth bytes, ties in file order. The depth
  // bounds every comparison, so long runs of one byte and periodic data sort in
  // O(count log count) like any other.
  const auto less = [this](uint32_t a, uint32_t b) {
    const size_t pa = a * step_, pb = b * step_;
    const size_t la = std::min(kSortDepth, old_size_ - pa), lb = std::min(kSortDepth, old_size_ - pb);
    const int c = CompareBytes(old_ + pa, old_ + pb, std::min(la, lb));
    if (c != 0) return c < 0;
    if (la != lb) return la < lb;
    return a < b;
  };
  for (size_t v = 0; v < 65536; ++v)
    if (buckets_[v + 1] - buckets_[v] > 1)
      std::sort(samples_.begin() + buckets_[v], samples_.begin() + buckets_[v + 1], less);
}

size_t MatchFinder::index_bytes() const {
  return sa_.size() * sizeof sa_[0] + samples_.size() * sizeof samples_[0] +
         buckets_.size() * sizeof buckets_[0];
}

Match MatchFinder::Longest(const uint8_t* data, size_t n, size_t hint) const {
  if (old_size_ == 0 || n == 0) return {};
  return step_ == 0 ? LongestFull(data, n) : LongestSparse(data, n, hint);
}

Match MatchFinder::LongestFull(const uint8_t* data, size_t n) const {
  // Bisect the sorted suffixes; the longest match is next to where `data` would be inserted.
  size_t lo = 0, hi = old_size_ - 1;
  while (hi - lo > 1) {
    const size_t mid = lo + (hi - lo) / 2;
    const size_t pos = static_cast<size_t>(sa_[mid]);
    const size_t len = std::min(old_size_ - pos, n);
    const int cmp = std::memcmp(old_ + pos, data, len);
    if (cmp < 0 || (cmp == 0 && len < n && old_size_ - pos < n)) lo = mid;
    else hi = mid;
  }
  const size_t a = static_cast<size_t>(sa_[lo]), b = static_cast<size_t>(sa_[hi]);
  const size_t la = CommonPrefix(old_ + a, old_size_ - a, data, n);
  const size_t lb = CommonPrefix(old_ + b, old_size_ - b, data, n);
  return la >= lb ? Match{a, la} : Match{b, lb};
}

int MatchFinder::CompareToQuery(size_t a, const uint8_t* q, size_t qn) const {
  const size_t la = std::min(kSortDepth, old_size_ - a);
  const int c = CompareBytes(old_ + a, q, std::min(la, qn));
  if (c != 0) return c;
  return la < qn ? -1 : 0;
}

Match MatchFinder::LongestSparse(const uint8_t* data, size_t n, size_t hint) const {
  // A match at old position q contains the sampled position q + j for one j < step_: look
  // up data + j for each j, and accept a sampled position p as the match p - j only when
  // the j bytes before it agree too.
  Match best;
  const size_t count = samples_.size();
  for (size_t j = 0; j < step_ && j < n; ++j) {
    const uint8_t* q = data + j;
    const size_t qn = std::min(kSortDepth, n - j);
    // The ranks whose first bytes are q's first two (or one).
    size_t lo, hi;
    if (qn >= 2) {
      const size_t v = (size_t{q[0]} << 8) | q[1];
      lo = buckets_[v];
      hi = buckets_[v + 1];
    } else {
      lo = buckets_[size_t{q[0]} << 8];
      hi = buckets_[(size_t{q[0]} + 1) << 8];
    }
    // [first, last): the positions whose bytes start with all of q (up to the depth).
    size_t first = lo, last = hi;
    {
      size_t a = lo, b = hi;
      while (a < b) {
        const size_t mid = a + (b - a) / 2;
        if (CompareToQuery(samples_[mid] * step_, q, qn) < 0) a = mid + 1;
        else b = mid;
      }
      first = a;
      b = a < hi && CompareToQuery(samples_[a] * step_, q, qn) == 0 ? hi : a;
      while (a < b) {
        const size_t mid = a + (b - a) / 2;
        if (CompareToQuery(samples_[mid] * step_, q, qn) <= 0) a = mid + 1;
        else b = mid;
      }
      last = a;
    }
    size_t candidates[4];
    size_t m = 0;
    if (first == last) {
      // No position starts with all of q: its neighbours share the most.
      if (first > 0) candidates[m++] = first - 1;
      if (first < count) candidates[m++] = first;
    } else if (qn < kSortDepth) {
      candidates[m++] = first;
      candidates[m++] = last - 1;
    } else {
      // Equal to the depth, so in file order: the earliest, and those around the hint.
      const size_t want = hint + j;
      size_t a = first, b = last;
      while (a < b) {
        const size_t mid = a + (b - a) / 2;
        if (samples_[mid] * step_ < want) a = mid + 1;
        else b = mid;
      }
      candidates[m++] = first;
      if (a < last && a != first) candidates[m++] = a;
      if (a > first + 1) candidates[m++] = a - 1;
    }
    for (size_t c = 0; c < m; ++c) {
      const size_t p = samples_[candidates[c]] * step_;
      if (p < j || std::memcmp(old_ + p - j, data, j) != 0) continue;
      const size_t length = j + CommonPrefix(old_ + p, old_size_ - p, q, n - j);
      // Of equally long matches, the one nearest the hint.
      const bool nearer = length == best.length && Distance(p - j, hint) < Distance(best.old_pos, hint);
      if (length > best.length || (length > 0 && nearer)) best = {p - j, length};
    }
    if (best.length == n && best.old_pos == hint) break;
  }
  return best;
}

}  // namespace vard::mkpatch
