// Pre-flight verification: existence and size of every file the patch will touch, checked
// before anything is written, and the building of the entry's progress nodes.
#pragma once

namespace vard {

struct FileEntry;
class ProgressNode;

// True when the entry may be applied. Creates the entry's labelled node under root (always,
// first) and its work nodes, and stores them in the entry. Main thread.
bool VerifyEntry(FileEntry& entry, ProgressNode& root);

}  // namespace vard
