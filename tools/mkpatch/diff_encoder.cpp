#include "mkpatch/diff_encoder.h"

#include <cstdint>
#include <cstring>

#include "mkpatch/diff_emitter.h"

namespace vard::mkpatch {

namespace {

constexpr std::size_t kKey = 8;           // bytes hashed per index entry
constexpr std::size_t kMinFarMatch = 16;  // a match that needs a seek pays ~10 bytes
constexpr std::size_t kMinNearMatch = 8;  // one in step only needs a copy command
constexpr std::size_t kMaxBuckets = std::size_t{1} << 21;
constexpr std::uint64_t kNoEntry = ~std::uint64_t{0};

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Index of the old file: the position of every stride-th block of kKey bytes by hash, so
// that any common run of at least stride + kKey bytes is found.
class BlockIndex {
 public:
  BlockIndex(const unsigned char* data, std::size_t size) : data_(data), size_(size) {
    if (size < kKey) return;
    const std::size_t blocks = size - kKey + 1;
    std::size_t buckets = 1024;
    while (buckets < blocks * 2 && buckets < kMaxBuckets) buckets <<= 1;
    stride_ = blocks * 2 / buckets + 1;
    shift_ = 64;
    for (std::size_t b = buckets; b > 1; b >>= 1) --shift_;
    table_.assign(buckets, kNoEntry);
    // Later blocks overwrite earlier ones of the same hash; walking backwards keeps the
    // earliest, which makes the result independent of the table size's collisions order.
    for (std::size_t pos = (blocks - 1) / stride_ * stride_ + 1; pos-- > 0;) {
      if (pos % stride_ == 0) table_[Hash(data + pos)] = pos;
    }
  }

  // An old position whose block hashes like the kKey bytes at p, or kNoEntry.
  std::uint64_t Find(const unsigned char* p) const {
    return table_.empty() ? kNoEntry : table_[Hash(p)];
  }

 private:
  std::size_t Hash(const unsigned char* p) const {
    return static_cast<std::size_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t stride_ = 1;
  int shift_ = 64;
  std::vector<std::uint64_t> table_;
};

std::size_t MatchForward(const unsigned char* a, std::size_t a_left, const unsigned char* b,
                         std::size_t b_left) {
  const std::size_t limit = a_left < b_left ? a_left : b_left;
  std::size_t n = 0;
  while (n + 8 <= limit && Load64(a + n) == Load64(b + n)) n += 8;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

std::vector<unsigned char> EncodeDiff(const unsigned char* old_data, std::size_t old_size,
                                      const unsigned char* new_data, std::size_t new_size) {
  DiffEmitter emitter;
  const BlockIndex index(old_data, old_size);
  std::size_t literal_start = 0;  // first new byte not yet emitted
  std::size_t i = 0;

  while (i + kKey <= new_size) {
    // The old position that stays in step if the literals since the last copy replace
    // the same number of old bytes.
    const std::uint64_t in_step = emitter.old_position() + (i - literal_start);
    std::size_t best_len = 0;
    std::uint64_t best_old = 0;
    if (in_step < old_size) {
      best_len = MatchForward(old_data + in_step, old_size - in_step, new_data + i, new_size - i);
      best_old = in_step;
    }
    bool near = best_len >= kMinNearMatch;
    if (best_len < 64) {
      const std::uint64_t candidate = index.Find(new_data + i);
      if (candidate != kNoEntry && candidate != in_step) {
        std::size_t len = MatchForward(old_data + candidate, old_size - candidate, new_data + i,
                                       new_size - i);
        std::size_t back = 0;
        while (back < i - literal_start && back < candidate &&
               old_data[candidate - back - 1] == new_data[i - back - 1]) {
          ++back;
        }
        if (len + back >= kMinFarMatch && len + back > best_len + 8) {
          best_len = len + back;
          best_old = candidate - back;
          i -= back;
          near = false;
        }
      }
    }
    if (!near && best_len < kMinFarMatch) {
      ++i;
      continue;
    }
    const std::size_t literals = i - literal_start;
    if (best_old == emitter.old_position() + literals) {
      emitter.Replace(new_data + literal_start, literals, old_size);
    } else {
      emitter.Insert(new_data + literal_start, literals);
      emitter.SeekTo(best_old);
    }
    emitter.Copy(best_len);
    i += best_len;
    literal_start = i;
  }
  emitter.Insert(new_data + literal_start, new_size - literal_start);
  return emitter.Finish();
}

}  // namespace vard::mkpatch
