// Tree comparison, the first stage of a build: what a pack's new folder adds to, changes in
// and removes from its old folder. Identical files are left out of the patch.
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
  // Paths relative to the pack folder, '/'-separated, in order of their name keys
  // (name_case.h). Names are paired as Windows compares them, without regard to case.
  std::vector<std::string> added, deleted;
  std::vector<UpdatedFile> updated;
  // Files of the old tree that are folders in the new one (old "maps", new "maps/x"):
  // deleted before anything of the pack is added. Not in `deleted`.
  std::vector<std::string> deleted_first;
  std::vector<UpdatedFile> unchanged;  // byte for byte the same
  // Folders of the new tree that the old one lacks and that hold no file, so that no file
  // of the patch creates them; the patcher makes them after the files.
  std::vector<std::string> added_folders;
  // Folders of the old tree that the new one lacks, deepest first; the patcher removes
  // each after the files, when it is empty.
  std::vector<std::string> deleted_folders;
  // Every folder of each tree, empty or not (for the self-check's model).
  std::vector<std::string> old_folders, new_folders;
};

// Lists the regular files below `dir` (following links to files), relative and sorted,
// and into `folders`, when given, every folder below it the same way. Throws InputError
// for a name Windows cannot store, two names that differ only in case, or anything that
// is neither file nor folder.
std::vector<std::string> ListTree(const std::filesystem::path& dir,
                                  std::vector<std::string>* folders = nullptr);

// Compares the two folders file by file: different sizes mean changed; files of equal size
// are read once each, side by side. Throws InputError for a folder of the old tree that is
// a file in the new one, which the patcher cannot replace (it checks every file before
// changing any, and finds a folder where it expects a file).
// `bar`, when given, advances by one file and its new size per file of the new tree.
class ProgressBar;
PackChanges CompareTrees(const std::filesystem::path& old_dir, const std::filesystem::path& new_dir,
                         ProgressBar* bar = nullptr);

// True when the two files hold the same bytes (read side by side in 1 MiB chunks).
bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace vard::mkpatch
