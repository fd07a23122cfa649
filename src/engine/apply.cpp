#include "engine/apply.h"

#include <string>

#include "base/paths.h"
#include "engine/diff/apply_diff.h"
#include "engine/payload.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"

namespace vard {

namespace {

const wchar_t kStagingName[] = L"new.dat";
const wchar_t kUndiffName[] = L"undiff.dat";
const wchar_t kCompressedCopyName[] = L"tmp_uncomp.dat";

ApplyResult Finish(FileEntry& entry) {
  if (entry.entry_node != nullptr) {
    MarkComplete(*entry.entry_node);
    ReportProgress(*entry.entry_node);
  }
  return ApplyResult::Ok;
}

// Clears a staging file before it is written again; true when nothing bears its name.
bool Clear(const std::wstring& path) {
  DeletePath(path);
  return !PathExists(path);
}

bool WriteResource(const std::wstring& path, ProgressNode* node, std::int32_t id) {
  ProgressNode unreported(0, nullptr);  // when pre-flight gave the step no node
  return WriteResourceToFile(path, node != nullptr ? *node : unreported,
                             static_cast<std::uint16_t>(id));
}

}  // namespace

ApplyResult StagePayload(const std::wstring& staging_path, const FileEntry& entry) {
  if (!entry.comp) {
    if (!Clear(staging_path)) return ApplyResult::DiskError;
    // A partly written staging file stays; the next attempt clears it first.
    return WriteResource(staging_path, entry.payload_node, entry.id) ? ApplyResult::Ok
                                                                     : ApplyResult::DiskError;
  }
  const std::wstring copy_path = DirectoryPart(staging_path) + kCompressedCopyName;
  DeletePath(copy_path);
  DeletePath(staging_path);
  if (PathExists(copy_path) || PathExists(staging_path)) return ApplyResult::DiskError;
  if (!WriteResource(copy_path, entry.copy_node, entry.id)) {
    DeletePath(copy_path);
    return ApplyResult::DiskError;
  }
  if (!InflateFile(copy_path, staging_path, entry.payload_node)) {
    DeletePath(copy_path);
    DeletePath(staging_path);
    return ApplyResult::DiskError;
  }
  DeletePath(copy_path);
  return ApplyResult::Ok;
}

ApplyResult ApplyEntry(FileEntry& entry) {
  if (entry.entry_node != nullptr) ReportProgress(*entry.entry_node);

  const std::wstring target = TargetPath(entry);
  const std::wstring folder = DirectoryPart(target);
  const bool existed = PathExists(target);
  const std::int64_t old_size = ReadManifestNumber(entry.size_org);
  const std::int64_t new_size = ReadManifestNumber(entry.size);
  std::uint64_t current_size = 0;
  std::string current_crc;  // stays empty unless pre-flight asked for a checksum

  if (existed) {
    if (!QueryFileSize(target, current_size) && entry.kind != EntryKind::Deleted) {
      return ApplyResult::DiskError;
    }
    if (entry.checksum_node != nullptr &&
        !ComputeFileCrc(target, *entry.checksum_node, current_crc)) {
      return ApplyResult::DiskError;
    }
  }
  // An empty text never matches: a file without a checksum is not taken as known.
  const auto crc_is = [&](const std::string& expected) {
    return !current_crc.empty() && current_crc == expected;
  };

  switch (entry.kind) {
    case EntryKind::Deleted:
      if (existed && !DeletePath(target)) return ApplyResult::DiskError;
      return Finish(entry);

    case EntryKind::Added: {
      if (existed) {
        if (crc_is(entry.crc)) return Finish(entry);
        if (!DeletePath(target)) return ApplyResult::DiskError;
      }
      const std::wstring staging = folder + kStagingName;
      const ApplyResult staged = StagePayload(staging, entry);
      if (staged != ApplyResult::Ok) return staged;
      if (!RenamePath(staging, target)) {
        DeletePath(staging);
        return ApplyResult::DiskError;
      }
      DeletePath(staging);
      return Finish(entry);
    }

    case EntryKind::Updated: {
      if (!existed) return ApplyResult::Corrupted;
      if (current_size == static_cast<std::uint64_t>(new_size)) {
        if (crc_is(entry.crc)) return Finish(entry);
        if (!crc_is(entry.crc_org)) return ApplyResult::Corrupted;
      }
      if (current_size != static_cast<std::uint64_t>(old_size)) return ApplyResult::Corrupted;

      const std::wstring staging = folder + kStagingName;
      const ApplyResult staged = StagePayload(staging, entry);
      if (staged != ApplyResult::Ok) return staged;
      std::wstring result = staging;
      if (entry.diff) {
        result = folder + kUndiffName;
        if (!Clear(result)) {
          DeletePath(staging);
          return ApplyResult::DiskError;
        }
        const bool rebuilt = ApplyDiff(result, target, staging, entry.diff_node);
        DeletePath(staging);
        if (!rebuilt) {
          DeletePath(result);
          return ApplyResult::DiskError;
        }
      }
      // The complete new content takes the game file's name in one step, so the game
      // file is never missing: on failure it is still the old one, and a later run
      // starts over from it.
      if (!ReplacePath(result, target)) {
        DeletePath(result);
        return ApplyResult::DiskError;
      }
      return Finish(entry);
    }
  }
  return ApplyResult::DiskError;
}

}  // namespace vard
