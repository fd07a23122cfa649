#include "mkpatch/compare/tree_compare.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "mkpatch/common/input_error.h"
#include "mkpatch/common/name_case.h"
#include "mkpatch/project/path_rules.h"
#include "mkpatch/common/progress_bar.h"

namespace vard::mkpatch {
namespace {

// Orders keys as their '/'-separated spelling sorts, so that lists come out in the order of
// the upper-cased relative paths.
struct KeyOrder {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
      return (x == L'\\' ? L'/' : x) < (y == L'\\' ? L'/' : y);
    });
  }
};
using KeyedNames = std::map<std::wstring, std::string, KeyOrder>;

// Every folder key above the file keys given ("A\B\C" gives "A" and "A\B").
std::set<std::wstring> FolderKeys(const KeyedNames& files) {
  std::set<std::wstring> folders;
  for (const auto& [key, name] : files)
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1))
      folders.insert(key.substr(0, slash));
  return folders;
}

}  // namespace

std::vector<std::string> ListTree(const std::filesystem::path& dir, std::vector<std::string>* folders) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::map<std::wstring, std::string> folded;  // name key -> path, to catch clashes
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
    const std::wstring key = NameKey(name);
    if (!folded.emplace(key, name).second)
      throw InputError("names differ only in case, which Windows cannot keep apart: " +
                       (dir / folded[key]).string() + " and " + (dir / rel).string());
    if (it->is_directory(ec)) {
      if (folders) folders->push_back(name);
      continue;
    }
    if (!it->is_regular_file(ec))
      throw InputError("not a regular file: " + (dir / rel).string());
    files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  if (folders) std::sort(folders->begin(), folders->end());
  return files;
}

bool SameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
  // One file under two names (a payload stored as a link to its new file) is itself.
  std::error_code same_error;
  if (std::filesystem::equivalent(a, b, same_error) && !same_error) return true;
  constexpr size_t kChunk = size_t{1} << 20;
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  if (!in_a) throw InputError("cannot read file: " + a.string());
  if (!in_b) throw InputError("cannot read file: " + b.string());
  const auto buffer_a = std::make_unique<char[]>(kChunk);
  const auto buffer_b = std::make_unique<char[]>(kChunk);
  for (;;) {
    in_a.read(buffer_a.get(), kChunk);
    in_b.read(buffer_b.get(), kChunk);
    const auto got_a = in_a.gcount(), got_b = in_b.gcount();
    if (in_a.bad()) throw InputError("cannot read file: " + a.string());
    if (in_b.bad()) throw InputError("cannot read file: " + b.string());
    if (got_a != got_b || std::memcmp(buffer_a.get(), buffer_b.get(), static_cast<size_t>(got_a)) != 0)
      return false;
    if (got_a < static_cast<std::streamsize>(kChunk)) return true;
  }
}

PackChanges CompareTrees(const std::filesystem::path& old_dir, const std::filesystem::path& new_dir,
                         ProgressBar* bar) {
  // Windows matches names without regard to case, so a file whose name only changed case is
  // the same file: pairing by name key keeps it from being added and then deleted.
  KeyedNames old_files, new_files;
  PackChanges changes;
  for (std::string& name : ListTree(old_dir, &changes.old_folders)) old_files.emplace(NameKey(name), std::move(name));
  for (std::string& name : ListTree(new_dir, &changes.new_folders)) new_files.emplace(NameKey(name), std::move(name));
  // Folders above files, and folders that are listed (empty ones included).
  const std::set<std::wstring> new_file_folders = FolderKeys(new_files);
  KeyedNames old_folder_names, new_folder_names;
  for (const std::string& name : changes.old_folders) old_folder_names.emplace(NameKey(name), name);
  for (const std::string& name : changes.new_folders) new_folder_names.emplace(NameKey(name), name);
  std::set<std::wstring> old_folders = FolderKeys(old_files), new_folders = new_file_folders;
  for (const auto& [key, name] : old_folder_names) old_folders.insert(key);
  for (const auto& [key, name] : new_folder_names) new_folders.insert(key);
  for (const auto& [key, name] : new_folder_names)
    if (!old_folders.count(key) && !new_file_folders.count(key)) changes.added_folders.push_back(name);
  // Reverse name order puts every folder before the folder that holds it.
  for (auto it = old_folder_names.rbegin(); it != old_folder_names.rend(); ++it)
    if (!new_folders.count(it->first)) changes.deleted_folders.push_back(it->second);
  for (const auto& [key, name] : old_files) {
    if (new_files.count(key)) continue;
    if (new_folders.count(key)) changes.deleted_first.push_back(name);
    else changes.deleted.push_back(name);
  }
  for (const auto& [key, name] : new_files) {
    const auto old = old_files.find(key);
    if (old == old_files.end()) {
      if (old_folders.count(key))
        throw InputError("\"" + name + "\" is a folder in " + old_dir.string() + " and a file in " +
                         new_dir.string() +
                         ": the patcher cannot turn a folder into a file (it checks every file "
                         "before it changes any, and would find a folder where the file goes); "
                         "give the file another name");
      changes.added.push_back(name);
      if (bar) bar->Advance(1, std::filesystem::file_size(new_dir / name), name);
      continue;
    }
    const std::filesystem::path old_path = old_dir / old->second, new_path = new_dir / name;
    std::error_code e1, e2;
    const auto old_size = std::filesystem::file_size(old_path, e1);
    const auto new_size = std::filesystem::file_size(new_path, e2);
    if (e1) throw InputError("cannot read file: " + old_path.string());
    if (e2) throw InputError("cannot read file: " + new_path.string());
    if (old_size == new_size && SameContent(old_path, new_path))
      changes.unchanged.push_back({old->second, name});
    else
      changes.updated.push_back({old->second, name});
    if (bar) bar->Advance(1, new_size, name);
  }
  return changes;
}

}  // namespace vard::mkpatch
