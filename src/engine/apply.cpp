#include "engine/apply.h"

#include <string>

#include "base/paths.h"
#include "base/staging_names.h"
#include "engine/crc_text.h"
#include "engine/diff/apply_diff.h"
#include "engine/held_target.h"
#include "engine/overlay.h"
#include "engine/payload.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"

namespace vard {

namespace {

ApplyResult Finish(FileEntry& entry) {
  if (entry.entry_node != nullptr) {
    MarkComplete(*entry.entry_node);
    ReportProgress(*entry.entry_node);
  }
  return ApplyResult::Ok;
}

// Removes every staging file of the target (leftovers of an interrupted run included);
// true when none is left.
bool ClearStaging(const std::wstring& target) {
  bool clear = true;
  for (StagingRole role : {StagingRole::CompressedCopy, StagingRole::Payload, StagingRole::Rebuilt}) {
    clear = RemoveFile(StagingPath(target, role)) && clear;
  }
  return clear;
}

// The most bytes a decoder may write for a manifest size; a negative size allows none.
std::uint64_t OutputLimit(const std::string& size) {
  const std::int64_t value = ReadManifestNumber(size);
  return value < 0 ? 0 : static_cast<std::uint64_t>(value);
}

// The entry's payload as it is shipped, from its resource or from the overlay; Corrupted
// when the overlay's bytes are not those the manifest describes.
ApplyResult WritePayload(const std::wstring& path, ProgressNode* node, const FileEntry& entry,
                         std::uint32_t* crc) {
  if (entry.in_overlay) {
    const OverlayRead read = WriteOverlayToFile(path, node, entry, crc);
    return read == OverlayRead::Ok        ? ApplyResult::Ok
           : read == OverlayRead::Damaged ? ApplyResult::Corrupted
                                          : ApplyResult::DiskError;
  }
  ProgressNode unreported(0, nullptr);  // when pre-flight gave the step no node
  return WriteResourceToFile(path, node != nullptr ? *node : unreported,
                             static_cast<std::uint16_t>(entry.id), crc)
             ? ApplyResult::Ok
             : ApplyResult::DiskError;
}

// Builds the entry's new content beside the target and gives it the target's name in one
// step, once its CRC-32 (taken while it was written) is the entry's "crc": a game file is
// never missing, partly written or replaced by wrong bytes. Whatever fails, the staging
// files go and the target is as it was.
ApplyResult ReplaceWithNewContent(FileEntry& entry, const std::wstring& target) {
  const std::wstring payload = StagingPath(target, StagingRole::Payload);
  std::uint32_t crc = 0;
  const ApplyResult staged = StagePayload(target, entry, &crc);
  if (staged != ApplyResult::Ok) return staged;
  std::wstring result = payload;
  if (entry.diff) {
    result = StagingPath(target, StagingRole::Rebuilt);
    if (!RemoveFile(result)) {
      RemoveFile(payload);
      return ApplyResult::DiskError;
    }
    const bool rebuilt = ApplyDiff(result, target, payload, entry.diff_node, &crc, entry.diff_form,
                                   OutputLimit(entry.size));
    RemoveFile(payload);
    if (!rebuilt) {
      RemoveFile(result);
      return ApplyResult::DiskError;
    }
  }
  // The installed file was not what the patch starts from (same size, other bytes), or
  // the payload itself is damaged: nothing replaces the game file.
  if (CrcText(crc) != entry.crc) {
    RemoveFile(result);
    return ApplyResult::Corrupted;
  }
  // A read-only game file (common for games installed from disc) cannot be replaced.
  if (!ClearReadOnly(target) || !ReplacePath(result, target)) {
    RemoveFile(result);
    return ApplyResult::DiskError;
  }
  return Finish(entry);
}

}  // namespace

ApplyResult StagePayload(const std::wstring& target, const FileEntry& entry,
                         std::uint32_t* crc) {
  const std::wstring staging_path = StagingPath(target, StagingRole::Payload);
  if (!entry.comp) {
    if (!RemoveFile(staging_path)) return ApplyResult::DiskError;
    const ApplyResult written = WritePayload(staging_path, entry.payload_node, entry, crc);
    if (written != ApplyResult::Ok) RemoveFile(staging_path);
    return written;
  }
  const std::wstring copy_path = StagingPath(target, StagingRole::CompressedCopy);
  const bool copy_clear = RemoveFile(copy_path);
  if (!RemoveFile(staging_path) || !copy_clear) return ApplyResult::DiskError;
  const ApplyResult copied = WritePayload(copy_path, entry.copy_node, entry, nullptr);
  if (copied != ApplyResult::Ok) {
    RemoveFile(copy_path);
    return copied;
  }
  const PayloadCodec codec = entry.comp_form == 2 ? PayloadCodec::Xz : PayloadCodec::Zlib;
  // The payload inflates to the diff (diff_size) or to the whole new file (size), and to
  // no more: a stream that keeps expanding is damaged, whatever it would end as.
  const bool inflated = InflateFile(copy_path, staging_path, entry.payload_node, crc, codec,
                                    OutputLimit(entry.diff ? entry.diff_size : entry.size));
  RemoveFile(copy_path);
  if (!inflated) {
    RemoveFile(staging_path);
    return ApplyResult::DiskError;
  }
  return ApplyResult::Ok;
}

ApplyResult ApplyEntry(FileEntry& entry) {
  if (entry.entry_node != nullptr) ReportProgress(*entry.entry_node);

  // The folders down to the target stay held until the entry is done. A link that
  // appeared below the installation folder since pre-flight is refused like one found
  // there. Only an added file's missing folders are created.
  HeldTarget held;
  const TargetHold hold = held.Hold(entry, entry.kind == EntryKind::Added);
  if (hold == TargetHold::Refused) return ApplyResult::Corrupted;
  if (hold == TargetHold::Failed) return ApplyResult::DiskError;
  if (hold == TargetHold::Absent) {
    // No folder, so no file: nothing to delete, nothing to update.
    return entry.kind == EntryKind::Deleted ? Finish(entry) : ApplyResult::Corrupted;
  }
  const std::wstring& target = held.path();
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
      // Only a file goes: a folder (or anything else) that bears its name is the
      // player's, and stays.
      if (DeleteFileOnly(target) == FileDeletion::Failed) return ApplyResult::DiskError;
      return Finish(entry);

    case EntryKind::Added:
      // Leftovers of an interrupted run go first, even when the file is already done.
      if (!ClearStaging(target) && !(existed && crc_is(entry.crc))) {
        return ApplyResult::DiskError;
      }
      if (existed && crc_is(entry.crc)) return Finish(entry);
      return ReplaceWithNewContent(entry, target);

    case EntryKind::Updated: {
      if (!existed) return ApplyResult::Corrupted;
      const bool staging_clear = ClearStaging(target);
      if (current_size == static_cast<std::uint64_t>(new_size)) {
        if (crc_is(entry.crc)) return Finish(entry);
        if (!crc_is(entry.crc_org)) return ApplyResult::Corrupted;
      }
      if (current_size != static_cast<std::uint64_t>(old_size)) return ApplyResult::Corrupted;
      if (!staging_clear) return ApplyResult::DiskError;
      return ReplaceWithNewContent(entry, target);
    }
  }
  return ApplyResult::DiskError;
}

}  // namespace vard
