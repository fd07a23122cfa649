// One game file of a pack: what to do with it and where its new content lies. Built by
// ParseFileEntry from a pack manifest's "file" element; only the five progress-node
// references change afterwards (set by pre-flight verification).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vard {

class ProgressNode;

enum class EntryKind : int { Added = 0, Updated = 1, Deleted = 2 };

struct FileEntry {
  std::wstring rel_dir;    // relative directory with a trailing backslash
  std::wstring file_name;  // name without directory
  EntryKind kind = EntryKind::Added;
  std::string crc_org;     // texts as in the manifest; numbers are read where used
  std::string size_org;
  std::string crc;
  std::string size;
  bool comp = false;
  bool diff = false;
  // Which codec and which diff form, when comp / diff are set: comp="1" zlib, comp="2"
  // xz (engine/xz_stream.h); diff="1" the escaped diff, diff="2" the stream diff
  // (engine/diff/stream_diff.h), diff="3" the archive diff (engine/diff/archive_diff.h).
  // Other values mean neither, as they always did.
  std::int32_t comp_form = 0;
  std::int32_t diff_form = 0;
  std::string diff_size;
  std::string comp_size;
  std::int32_t id = 0;       // payload resource; every use takes the low 16 bits
  // A payload carried in the executable's overlay instead of resource id (the "overlay",
  // "overlay_size" and "overlay_crc" attributes): where it lies from the overlay's start,
  // its size and the CRC-32 its bytes must have (engine/overlay.h).
  bool in_overlay = false;
  std::uint64_t overlay_offset = 0;
  std::uint64_t overlay_size = 0;
  std::uint32_t overlay_crc = 0;
  std::wstring install_root; // cleaned installation folder with one trailing backslash
  // Nodes of the run's progress tree, owned by the tree; null until pre-flight makes them.
  ProgressNode* entry_node = nullptr;
  ProgressNode* checksum_node = nullptr;
  ProgressNode* diff_node = nullptr;
  ProgressNode* payload_node = nullptr;
  ProgressNode* copy_node = nullptr;
};

// The run's ordered list of entries; it owns them.
using FileEntryList = std::vector<std::unique_ptr<FileEntry>>;

// A folder that the new version holds empty (created) or no longer holds (removed once
// empty). Read from a pack manifest's "folders" element, which patchers that predate it
// ignore; applied after every file of the run.
struct FolderEntry {
  FileEntry folder;  // the folder as a deleted entry names a file: TargetPath gives its path
  bool remove = false;
};
using FolderEntryList = std::vector<FolderEntry>;

// install_root + rel_dir + file_name, cleaned with no leading and no trailing separator.
std::wstring TargetPath(const FileEntry& entry);
// rel_dir + file_name cleaned the same way: the label shown while the entry is worked on.
std::wstring DisplayName(const FileEntry& entry);
// A manifest number read like "%lld": leading white space and a sign accepted, reading
// stops at the first non-digit, no digits gives 0.
std::int64_t ReadManifestNumber(const std::string& text);

}  // namespace vard
