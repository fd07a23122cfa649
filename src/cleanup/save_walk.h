// The walk of one data directory that save removal makes, apart from the file system it
// runs on. The patcher runs elevated and the folders it walks may be writable by others:
// it never enters, and never deletes through, a reparse point (junction, symbolic link,
// mount point). Only plain files found by walking plain folders below the data directory
// are deleted. The folders above the data directory, up to its volume's root, must be
// plain folders too: a link among them would carry the whole walk elsewhere. Every folder
// of the chain below the volume's root is held in place while the walk is below it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vard {

// File attribute bits as the file system reports them.
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeReparsePoint = 0x400;

// A folder the walk may enter: a directory that is no reparse point.
bool IsPlainFolder(std::uint32_t attributes);
// A file the walk may delete: neither a directory nor a reparse point.
bool IsPlainFile(std::uint32_t attributes);

// A save file held open from the walk's decision to its delete: the entry itself (never
// what a link names), opened so that nobody can delete, rename or replace it meanwhile,
// and deleted through the same handle. So what is deleted is what was judged.
class SaveFile {
 public:
  virtual ~SaveFile() = default;
  // What the system reports for the opened entry.
  virtual std::uint32_t attributes() const = 0;
  // True for a kept save (IsKeptSave in remove_saves.h), read through the handle.
  virtual bool IsKept() = 0;
  // Deletes the opened entry; a failure leaves it where it is.
  virtual void Delete() = 0;
};

// The file system as the walk sees it.
class SaveFileSystem {
 public:
  virtual ~SaveFileSystem() = default;
  // Opens the entry at path itself (never what a link names) and keeps it from being
  // renamed or removed until the result is released; attributes gets what the system
  // reports for it. Null when it cannot be opened.
  virtual std::shared_ptr<void> Hold(const std::wstring& path, std::uint32_t& attributes) = 0;
  // Names of the folder's sub-folders or files, as ListEntries gives them with "*".
  virtual std::vector<std::wstring> List(const std::wstring& folder, bool want_folders) = 0;
  // The absolute form of path, resolved as the system resolves it when opening it (relative
  // to the current folder, "." and ".." taken out); empty when it cannot be resolved.
  virtual std::wstring FullPath(const std::wstring& path) = 0;
  // Opens the entry at path for the decision and the delete; null when it cannot be
  // opened (a file in use by someone who does not share it, a missing one). A folder or
  // a link that opens is told by its attributes.
  virtual std::unique_ptr<SaveFile> Open(const std::wstring& path) = 0;
};

// Deletes every plain file that is not a kept save directly in the save folders
// directory\settings\profiles\<profile>\savegames, entering only plain folders. Deletes
// nothing when a folder above the directory is not a plain one or cannot be held, or when
// the directory's absolute path names no volume (a drive, a share, \\?\ forms).
void WalkDataDirectory(SaveFileSystem& files, const std::wstring& directory);

}  // namespace vard
