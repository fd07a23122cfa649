// Finds the zlib settings that deflate an archive entry's content to exactly the bytes the
// archive holds, so that the patcher can rebuild the entry from its content. Archives
// written with zlib (Java's Deflater and most zip libraries) come out the same at one of
// zlib's settings, most at level 6 with memory level 8; other deflate implementations
// rarely do, and such entries are carried as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/diff/archive_diff.h"

namespace vard::mkpatch {

struct DeflateSettings {
  uint8_t level = 6, mem_level = 8, window_bits = 15, strategy = 0;
  bool operator==(const DeflateSettings&) const = default;
};

// How much the search of one archive may deflate, counted in content bytes fed to zlib
// over all tries: kSearchPerByte times the archive's size plus kSearchBase. A count and
// not a clock, so that the same inputs give the same patch on any machine; at zlib's
// speed here (10 to 40 MB/s by level) it bounds the search to about 1 s per MB of
// archive. Entries that match at the first setting tried cost their content once. Once
// spent, entries only get the likely settings below, at most four tries each.
//
// Archives written by zlib match at one of the likely settings (the last match, levels 6,
// 9 and 1 at memory level 8 and the full window) or, for a writer with unusual settings,
// at a setting the whole search finds on the first entry and every later entry then
// matches at once. An entry the whole search does not reproduce was written by another
// deflate implementation, and so, nearly always, were the archive's other entries: after
// kWholeSearchFailures such entries, later entries only get the likely settings. On an
// archive of Info-ZIP's (553 of 769 deflate entries rebuilt, all at level 9 or 6, 61 not
// reproduced) the search then deflates well under half of what the bound allows, with
// the same result.
inline constexpr uint64_t kSearchPerByte = 12;
inline constexpr uint64_t kSearchBase = uint64_t{8} << 20;
inline constexpr int kWholeSearchFailures = 1;

class DeflateSearch {
 public:
  explicit DeflateSearch(uint64_t archive_size);

  // Settings whose raw deflate stream of content is exactly packed, or none. Tries the
  // settings that matched last first, then levels 6, 9, 1 and (until the bound or
  // kWholeSearchFailures stop it) the rest, memory level 8
  // then the others, window bits 15 then smaller windows (only where the content is
  // longer than the smaller window, since otherwise the output is the same), the default
  // strategy. Each try stops at its first byte that differs from packed.
  std::optional<DeflateSettings> Find(const uint8_t* content, size_t size, const uint8_t* packed,
                                      size_t packed_size);

  // Whether the time bound or the failures cut the search short for some entry.
  bool cut_short() const { return cut_short_; }

 private:
  bool Try(const DeflateSettings& settings, const uint8_t* content, size_t size,
           const uint8_t* packed, size_t packed_size);

  uint64_t budget_;
  std::optional<DeflateSettings> last_;
  int whole_search_failures_ = 0;
  bool cut_short_ = false;
};

// True when the zlib this program runs with is the one it was built with; rebuilt
// entries are only bit-identical with the zlib version the patcher links.
bool ZlibMatchesBuild();

}  // namespace vard::mkpatch
