#include "mkpatch/encode/delta/alignment.h"

#include <algorithm>

namespace vard::mkpatch {

// The scan walks the new file looking for exact matches; bytes that keep agreeing with the
// old file at the current offset count for the current alignment. When a match clearly
// better than that alignment appears, the region so far is closed: the alignment is stretched
// forward from its start and the new match backward from its start, as long as more than half
// of the bytes agree, and what lies between becomes the region's extra bytes.
std::vector<AlignedRegion> AlignFiles(const uint8_t* old, size_t old_size, const uint8_t* neu,
                                      size_t new_size, const MatchFinder& finder,
                                      const AlignmentParams& params) {
  std::vector<AlignedRegion> regions;
  size_t scan = 0, len = 0, pos = 0;
  size_t last_scan = 0, last_pos = 0;
  int64_t last_offset = 0;  // old position minus new position of the current alignment

  auto agrees = [&](size_t new_index, int64_t offset) {
    const int64_t o = static_cast<int64_t>(new_index) + offset;
    return o >= 0 && static_cast<size_t>(o) < old_size && old[o] == neu[new_index];
  };

  while (scan < new_size) {
    size_t old_score = 0;
    size_t scsc = scan += len;
    for (; scan < new_size; ++scan) {
      const int64_t hint = static_cast<int64_t>(scan) + last_offset;
      const Match m = finder.Longest(neu + scan, new_size - scan,
                                     hint < 0 ? 0 : std::min(static_cast<size_t>(hint), old_size));
      len = m.length;
      pos = m.old_pos;
      for (; scsc < scan + len; ++scsc)
        if (agrees(scsc, last_offset)) ++old_score;
      if ((len == old_score && len != 0) || len > old_score + params.switch_margin) break;
      if (agrees(scan, last_offset)) --old_score;
    }
    if (len == old_score && scan != new_size) continue;

    // Stretch the current alignment forward from last_scan.
    size_t lenf = 0;
    {
      int64_t s = 0, best = 0;
      for (size_t i = 0; last_scan + i < scan && last_pos + i < old_size;) {
        if (old[last_pos + i] == neu[last_scan + i]) ++s;
        ++i;
        if (s * 2 - static_cast<int64_t>(i) > best * 2 - static_cast<int64_t>(lenf)) {
          best = s;
          lenf = i;
        }
      }
    }
    // Stretch the new match backward from scan.
    size_t lenb = 0;
    if (scan < new_size) {
      int64_t s = 0, best = 0;
      for (size_t i = 1; scan >= last_scan + i && pos >= i; ++i) {
        if (old[pos - i] == neu[scan - i]) ++s;
        if (s * 2 - static_cast<int64_t>(i) > best * 2 - static_cast<int64_t>(lenb)) {
          best = s;
          lenb = i;
        }
      }
    }
    // Where the two stretches overlap, split them where the most bytes agree.
    if (last_scan + lenf > scan - lenb) {
      const size_t overlap = (last_scan + lenf) - (scan - lenb);
      int64_t s = 0, best = 0;
      size_t cut = 0;
      for (size_t i = 0; i < overlap; ++i) {
        if (neu[last_scan + lenf - overlap + i] == old[last_pos + lenf - overlap + i]) ++s;
        if (neu[scan - lenb + i] == old[pos - lenb + i]) --s;
        if (s > best) {
          best = s;
          cut = i + 1;
        }
      }
      lenf += cut - overlap;
      lenb -= cut;
    }
    regions.push_back({last_scan, last_pos, lenf, (scan - lenb) - (last_scan + lenf)});
    last_scan = scan - lenb;
    last_pos = pos - lenb;
    last_offset = static_cast<int64_t>(pos) - static_cast<int64_t>(scan);
  }
  return regions;
}

}  // namespace vard::mkpatch
