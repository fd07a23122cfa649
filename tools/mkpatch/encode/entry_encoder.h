// The payload of one file entry: the one place that decides how an added or updated file
// travels (whole or as a diff of either form, compressed with zlib or xz, or stored). Every
// build, whatever its thread count, calls it once per entry with the same bytes and so
// writes the same payloads. Old and new bytes in, shipped bytes and the manifest
// attributes that describe them out.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mkpatch/encode/archive/archive_diff_encoder.h"
#include "mkpatch/encode/payload_writer.h"

namespace vard::mkpatch {

struct EncodeOptions {
  // 3: also archive diffs (diff="3") of zip-format archives where they are smaller;
  // 2: stream diffs (diff="2") and xz payloads (comp="2") where they are smaller;
  // 1: only what every patcher reads (diff="1", comp="1").
  int diff_format = 3;
};

struct EncodedEntry {
  Payload payload;         // shipped bytes; payload.codec is the comp attribute
  bool diff = false;       // the payload (after its codec) is a diff against the old file
  int diff_form = 0;       // the diff attribute when diff: 1 escaped, 2 stream, 3 archive diff
  uint64_t diff_size = 0;  // size of the diff after the payload codec when diff
  // When the archive form was tried and carried the file: what it did with the entries.
  std::optional<ArchiveReport> archive;
};

// `old` is null for an added file. An updated file carries a diff only when the diff's
// payload is smaller than the whole file's. With `split` the whole content is compressed on
// a second thread while the diff is encoded (worth it for large files); the result is the
// same either way. The old bytes are released (*old left empty) once the diff is made, so
// that compressing the whole file never holds both versions.
EncodedEntry EncodeEntry(std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                         bool split = false, const EncodeOptions& options = {});

// The diff entry that turns old into content whatever its size (what `mkpatch diff`
// writes). With format 2 or 3, files up to kBothFormsLimit also try the first form and keep
// the smaller payload; with format 3, zip-format archives also try the archive form, kept
// only when it is smaller than the others. A stream diff of `limit` bytes or more is given up without being
// assembled (no diff at all when the first form was not tried).
EncodedEntry EncodeDiffEntry(const std::vector<uint8_t>& old, const std::vector<uint8_t>& content,
                             const EncodeOptions& options, uint64_t limit = UINT64_MAX);
inline constexpr uint64_t kBothFormsLimit = uint64_t{1} << 20;

// Updated files from this size on are split across two threads.
inline constexpr uint64_t kSplitSize = uint64_t{4} << 20;

}  // namespace vard::mkpatch
