// The payload of one file entry: the one place that decides how an added or updated file
// travels (whole or as a diff, compressed or stored). Every build, whatever its thread
// count, calls it once per entry with the same bytes and so writes the same payloads.
#pragma once

#include <cstdint>
#include <vector>

#include "mkpatch/payload_writer.h"

namespace vard::mkpatch {

struct EncodedEntry {
  Payload payload;
  bool diff = false;       // the payload (after inflating) is a diff against the old file
  uint64_t diff_size = 0;  // size of the inflated diff when diff
};

// `old` is null for an added file. An updated file carries a diff only when the diff's
// payload is smaller than the whole file's. With `split` the whole content is compressed on
// a second thread while the diff is encoded (worth it for large files); the result is the
// same either way.
EncodedEntry EncodeEntry(const std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                         bool split = false);

// Updated files from this size on are split across two threads.
inline constexpr uint64_t kSplitSize = uint64_t{4} << 20;

}  // namespace vard::mkpatch
