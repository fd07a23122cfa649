// Tree comparison, the first stage of a build: what a pack's new folder adds to, changes in
// and removes from its old folder. Identical files are counted and left out of the patch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vard::mkpatch {

struct UpdatedFile {
  std::string old_name, new_name;  // equal but for case
};

struct PackChanges {
  // Paths relative to the pack folder, '/'-separated, in order of their upper-cased names.
  // Names are paired ignoring case, as Windows does.
  std::vector<std::string> added, deleted;
  std::vector<UpdatedFile> updated;
  size_t unchanged = 0;
};

// Lists the regular files below `dir` (following links to files), relative and sorted.
// Throws InputError for a name Windows cannot store, two names that differ only in case,
// or anything that is neither file nor folder.
std::vector<std::string> ListTree(const std::filesystem::path& dir);

// Compares the two folders file by file (size first, then content).
PackChanges CompareTrees(const std::filesystem::path& old_dir, const std::filesystem::path& new_dir);

}  // namespace vard::mkpatch
