#include "mkpatch/tree_compare.h"

#include <algorithm>
#include <map>

#include "mkpatch/file_io.h"
#include "mkpatch/input_error.h"
#include "mkpatch/path_rules.h"

namespace vard::mkpatch {

std::vector<std::string> ListTree(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::map<std::string, std::string> folded;  // case-folded path -> path, to catch clashes
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, fs::directory_options::follow_directory_symlink, ec);
  if (ec) throw InputError("cannot read folder: " + dir.string());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) throw InputError("cannot read folder below " + dir.string() + ": " + ec.message());
    const fs::path rel = it->path().lexically_relative(dir);
    const std::string name = rel.generic_string();
    if (const std::string problem = WindowsNameProblem(it->path().filename().string());
        !problem.empty())
      throw InputError("bad file name " + (dir / rel).string() + ": " + problem);
    if (!folded.emplace(FoldCase(name), name).second)
      throw InputError("names differ only in case, which Windows cannot keep apart: " +
                       (dir / folded[FoldCase(name)]).string() + " and " + (dir / rel).string());
    if (it->is_directory(ec)) continue;
    if (!it->is_regular_file(ec))
      throw InputError("not a regular file: " + (dir / rel).string());
    files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

PackChanges CompareTrees(const std::filesystem::path& old_dir, const std::filesystem::path& new_dir) {
  // Windows matches names without regard to case, so a file whose name only changed case is
  // the same file: pairing by folded name keeps it from being added and then deleted.
  std::map<std::string, std::string> old_files, new_files;
  for (std::string& name : ListTree(old_dir)) old_files.emplace(FoldCase(name), std::move(name));
  for (std::string& name : ListTree(new_dir)) new_files.emplace(FoldCase(name), std::move(name));
  PackChanges changes;
  for (const auto& [key, name] : old_files)
    if (!new_files.count(key)) changes.deleted.push_back(name);
  for (const auto& [key, name] : new_files) {
    const auto old = old_files.find(key);
    if (old == old_files.end()) {
      changes.added.push_back(name);
      continue;
    }
    std::error_code e1, e2;
    const auto old_size = std::filesystem::file_size(old_dir / old->second, e1);
    const auto new_size = std::filesystem::file_size(new_dir / name, e2);
    if (e1) throw InputError("cannot read file: " + (old_dir / old->second).string());
    if (e2) throw InputError("cannot read file: " + (new_dir / name).string());
    bool same = old_size == new_size;
    if (same) same = ReadWholeFile(old_dir / old->second) == ReadWholeFile(new_dir / name);
    if (same) ++changes.unchanged;
    else changes.updated.push_back({old->second, name});
  }
  return changes;
}

}  // namespace vard::mkpatch
