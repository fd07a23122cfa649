// The folders of a patch, applied once every file is in place: folders the new version no
// longer has are removed when empty, and folders it has empty are created. A folder that
// still holds anything (a file of the player's, say) stays, and so does a link; like files,
// folders are reached only through plain folders below the installation folder.
#pragma once

#include "manifest/file_entry.h"

namespace vard {

// Pre-flight: false when a folder of the patch, or one on the way to it, is a link below
// the installation folder (a missing folder is no fault). Nothing is changed.
bool VerifyFolders(const FolderEntryList& folders);

// Removes the "remove" folders first, in list order (the patch names a folder before the
// one that holds it), then creates the "create" folders with their missing parents, so a
// folder that one pack removes and another creates ends up present. False when a folder to
// create cannot be made; a folder that cannot be removed is no failure.
bool ApplyFolders(const FolderEntryList& folders);

}  // namespace vard
