#include "mkpatch/encode/delta/command_chooser.h"

#include <algorithm>

#include "mkpatch/encode/diff_emitter.h"

namespace vard::mkpatch {
namespace {

// Bytes of a seek command over `distance` (0 when none is needed).
std::size_t SeekCost(int64_t distance) {
  if (distance == 0) return 0;
  const uint64_t n = distance < 0 ? 0 - static_cast<uint64_t>(distance) : static_cast<uint64_t>(distance);
  if (n <= 252) return 3;
  if (n <= 508) return 4;
  if (n <= 0xFFFF) return 5;
  if (n <= 0xFFFFFFFFull) return 7;
  return 11;
}

}  // namespace

std::vector<uint8_t> WriteCommands(const uint8_t* old, size_t old_size, const uint8_t* neu,
                                   size_t /*new_size*/, const std::vector<AlignedRegion>& regions,
                                   const CommandParams& params) {
  DiffEmitter writer;
  for (size_t r = 0; r < regions.size(); ++r) {
    const AlignedRegion& region = regions[r];
    if (region.aligned > 0) {
      writer.SeekTo(region.old_pos);
      // Walk the region: equal runs of at least min_copy bytes are copied, the rest replaced.
      size_t i = 0, pending = 0;  // pending: start of bytes not yet sent
      while (i < region.aligned) {
        if (old[region.old_pos + i] != neu[region.new_pos + i]) {
          ++i;
          continue;
        }
        size_t run = 0;
        while (i + run < region.aligned && old[region.old_pos + i + run] == neu[region.new_pos + i + run])
          ++run;
        if (run >= params.min_copy) {
          writer.Replace(neu + region.new_pos + pending, i - pending, old_size);
          writer.Copy(run);
          pending = i + run;
        }
        i += run;
      }
      writer.Replace(neu + region.new_pos + pending, region.aligned - pending, old_size);
    }
    if (region.extra == 0) continue;
    const uint8_t* extra = neu + region.new_pos + region.aligned;
    // Where the old position must be for the next region (none after the last one).
    const bool has_next = r + 1 < regions.size() && regions[r + 1].aligned > 0;
    const uint64_t here = writer.old_position();
    if (!has_next) {
      writer.Insert(extra, region.extra);
      continue;
    }
    const auto target = static_cast<int64_t>(regions[r + 1].old_pos);
    const int64_t after_insert = target - static_cast<int64_t>(here);
    const uint64_t replaced_end = std::min<uint64_t>(old_size, here + region.extra);
    const int64_t after_replace = target - static_cast<int64_t>(replaced_end);
    if (SeekCost(after_replace) <= SeekCost(after_insert))
      writer.Replace(extra, region.extra, old_size);
    else
      writer.Insert(extra, region.extra);
  }
  return writer.Finish();
}

}  // namespace vard::mkpatch
