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
//
// Output stops at new_size (unless ~0): a diff that would write more fails as soon as
// it passes it, with at most new_size bytes written. form 2 selects the stream diff
// (engine/diff/stream_diff.h), which must rebuild exactly new_size bytes; its memory:
// the old page, three pages of the diff (one per stream), the output buffer (five 1 MiB
// buffers) and three stream decoders of at most kXzMemoryLimit (10 MiB) and 64 KiB each,
// 36 MiB at most in all. Form 3 selects the archive diff (engine/diff/archive_diff.h),
// bound the same way; with the two readers opened here, 94 MiB at most.
bool ApplyDiff(const std::wstring& new_path, const std::wstring& old_path,
               const std::wstring& diff_path, ProgressNode* node,
               std::uint32_t* crc = nullptr, int form = 1,
               std::uint64_t new_size = ~std::uint64_t{0});

}  // namespace vard
