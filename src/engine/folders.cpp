#include "engine/folders.h"

#include <windows.h>

#include "engine/held_target.h"

namespace vard {

bool VerifyFolders(const FolderEntryList& folders) {
  for (const FolderEntry& entry : folders) {
    HeldTarget held;
    if (held.Hold(entry.folder, false) == TargetHold::Refused) return false;
  }
  return true;
}

bool ApplyFolders(const FolderEntryList& folders) {
  for (const FolderEntry& entry : folders) {
    if (!entry.remove) continue;
    // Only a plain folder below the installation, reached without a link, is removed; a
    // missing one or one that cannot be held is left as it is.
    HeldTarget held;
    if (held.Hold(entry.folder, false) != TargetHold::Held) continue;
    const DWORD attributes = GetFileAttributesW(held.path().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      continue;
    // The system removes a folder only when it is empty.
    RemoveDirectoryW(held.path().c_str());
  }
  for (const FolderEntry& entry : folders) {
    if (entry.remove) continue;
    HeldTarget held;
    if (held.Hold(entry.folder, true) != TargetHold::Held) return false;
    const DWORD attributes = GetFileAttributesW(held.path().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(held.path().c_str(), nullptr))
      return false;
    const DWORD made = GetFileAttributesW(held.path().c_str());
    if (made == INVALID_FILE_ATTRIBUTES || (made & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  }
  return true;
}

}  // namespace vard
