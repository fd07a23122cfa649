// Rebuilds an updated game file from the installed one and a decompressed diff.
#pragma once

#include <cstdint>
#include <string>

namespace vard {

class ProgressNode;

// Writes new_path, created as a new file after any stale copy has been deleted, from the
// old file and the diff file; the node (may be null) advances by the bytes written, once
// per 1 MiB block. True when the diff was decoded to its end and everything was written.
// Never raises: a page that cannot be read, a malformed diff (see DecodeDiff) or a
// failed write give false, leaving a partial new file for the caller to delete. Memory:
// three 1 MiB buffers whatever the file sizes; 64-bit sizes and positions. When crc is
// given it receives the CRC-32 of what was written, taken while writing.
bool ApplyDiff(const std::wstring& new_path, const std::wstring& old_path,
               const std::wstring& diff_path, ProgressNode* node,
               std::uint32_t* crc = nullptr);

}  // namespace vard
