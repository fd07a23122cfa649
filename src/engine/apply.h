// Pack application: adds, replaces or removes one game file through staging files beside
// it, and recognises a file already in its new state so that a run can be repeated.
#pragma once

#include <string>

namespace vard {

struct FileEntry;

enum class ApplyResult : int { Ok = 0, DiskError = 1, Corrupted = 2 };

ApplyResult ApplyEntry(FileEntry& entry);

// Writes the entry's payload content (the new file or the decompressed diff) to
// staging_path; Ok or DiskError only.
ApplyResult StagePayload(const std::wstring& staging_path, const FileEntry& entry);

}  // namespace vard
