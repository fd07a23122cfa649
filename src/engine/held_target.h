// Where an entry's game file really lies, and the folders that keep it there. The patcher
// runs elevated in a game folder that others may be able to write: every path it checks,
// writes, replaces or deletes lies in the installation as it really is. The installation
// folder is taken as the system reaches it (a link on the way to it, a game moved to
// another drive, keeps working); below it, every folder down to the file is held open
// from the volume's root, so none can be swapped for a link while the entry is worked on,
// and none may be a link (a junction, a symbolic link, a mount point) in the first place.
// Main thread.
#pragma once

#include <string>

#include "os/held_folders.h"

namespace vard {

struct FileEntry;

enum class TargetHold {
  Held,     // every folder down to the file is held; the file is no link (when it exists)
  Absent,   // a folder on the way does not exist (only without create_folders)
  Refused,  // a link below the installation folder, or a path that leaves it
  Failed,   // a folder could not be resolved, created or held
};

class HeldTarget {
 public:
  // Resolves the entry's target below its installation folder and holds the folders on
  // the way; with create_folders, missing ones are created (and held). The holds last
  // until the object is destroyed or Hold is called again.
  TargetHold Hold(const FileEntry& entry, bool create_folders);

  // The target in long-path form, below the real installation folder (set unless Hold
  // answered Refused or Failed).
  const std::wstring& path() const { return path_; }

 private:
  FolderChain folders_;
  std::wstring path_;
};

}  // namespace vard
