// Encoder of the third diff form (engine/diff/archive_diff.h): takes both archives apart
// (zip_reader.h), finds for each changed deflate entry of the new archive the settings
// that reproduce its compressed bytes (deflate_search.h) and a base among the old
// entries (the same name, else the same content, else the same file name in another
// folder), diffs the contents, and carries the rest of the new archive as a stream diff
// against the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vard::mkpatch {

// What the archive form did with the new archive's entries.
struct ArchiveReport {
  size_t entries = 0;      // entries in the new archive
  size_t rebuilt = 0;      // deflate entries rebuilt from their content
  size_t unchanged = 0;    // deflate entries whose compressed bytes are their base's
  size_t raw = 0;          // deflate entries no setting reproduces, carried as they are
  uint64_t raw_bytes = 0;  // the compressed bytes of those
  bool search_cut_short = false;  // the search's bound stopped it for some entry
};

// One line for the build's output: "archive: 794 entries, 600 rebuilt exactly, 186
// unchanged, 8 carried raw (1234 bytes)", and a note when the search was cut short.
std::string ArchiveSummary(const ArchiveReport& report);

// The container (header, skeleton and four streams), or empty when either file is not
// an archive the reader takes apart, when no entry could be rebuilt, when the running
// zlib is not the build's, or when the container would have `limit` bytes or more.
// Deterministic. Memory beyond the two files: the content of one entry and its base at
// a time, the streams of the entries and the skeleton, and the stream diff's encoder.
std::vector<uint8_t> EncodeArchiveDiff(const std::vector<uint8_t>& old, const std::vector<uint8_t>& neu,
                                       ArchiveReport* report = nullptr, uint64_t limit = UINT64_MAX);

}  // namespace vard::mkpatch
