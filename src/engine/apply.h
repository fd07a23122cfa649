// Pack application: adds, replaces or removes one game file through staging files beside
// it (see staging_names.h), and recognises a file already in its new state so that a run
// can be repeated. A game file is only ever replaced in one step by complete new content
// whose CRC-32 is the entry's, so after any failure or kill it is its old or its new
// content.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

struct FileEntry;

enum class ApplyResult : int { Ok = 0, DiskError = 1, Corrupted = 2 };

ApplyResult ApplyEntry(FileEntry& entry);

// Writes the entry's payload content (the new file or the decompressed diff) to the
// target's Payload staging file, through its CompressedCopy for a compressed payload; Ok,
// DiskError, or Corrupted for an overlay payload whose bytes are not those the manifest
// describes. After a failure neither staging file is left. When crc is given
// it receives the CRC-32 of the content written.
ApplyResult StagePayload(const std::wstring& target, const FileEntry& entry,
                         std::uint32_t* crc = nullptr);

}  // namespace vard
