#include "mkpatch/project/output_folders.h"

#include <fstream>
#include <string>
#include <system_error>

#include "mkpatch/common/input_error.h"

namespace vard::mkpatch {
namespace fs = std::filesystem;
namespace {

// The path as the system reaches it: links resolved as far as it exists, the rest cleaned.
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path), ec);
  if (ec) throw InputError("cannot resolve folder " + path.string() + ": " + ec.message());
  resolved = resolved.lexically_normal();
  if (!resolved.has_filename() && resolved.has_relative_path()) resolved = resolved.parent_path();
  return resolved;
}

// True when `inner` is `outer` or lies below it (both resolved).
bool Within(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin(), o = outer.begin();
  for (; o != outer.end(); ++o, ++i)
    if (i == inner.end() || *i != *o) return false;
  return true;
}

void CheckOne(const Project& project, const fs::path& folder, const char* option) {
  const fs::path mine = Resolved(folder);
  for (const LanguageSection& section : project.sections)
    for (const PackSource& pack : section.packs)
      for (const fs::path& tree : {pack.old_dir, pack.new_dir}) {
        const fs::path theirs = Resolved(tree);
        const char* relation = mine == theirs          ? "is"
                               : Within(mine, theirs) ? "lies inside"
                               : Within(theirs, mine) ? "contains"
                                                      : nullptr;
        if (relation)
          throw InputError(std::string(option) + " folder " + folder.string() + " " + relation +
                           " the pack folder " + tree.string() +
                           ": mkpatch writes and replaces folders there, which would change the "
                           "game's files; choose a folder apart from every old and new folder");
      }
}

// True when the folder holds no file, link or other entry below it, only empty folders: a
// build system makes the folders of its outputs before it runs mkpatch, and nothing in such
// a folder can be lost.
bool HoldsOnlyEmptyFolders(const fs::path& folder, std::error_code& ec) {
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_symlink(ec) || !it->is_directory(ec)) return false;
  }
  return !ec;
}

}  // namespace

void CheckOutputFolders(const Project& project, const fs::path& out, const fs::path& build_dir) {
  CheckOne(project, out, "--out");
  if (!build_dir.empty()) CheckOne(project, build_dir, "--build-dir");
}

void ClaimOutputFolder(const fs::path& out) {
  std::error_code ec;
  const fs::path marker = out / kOutputMarker;
  if (fs::exists(marker, ec)) return;
  if (fs::exists(out, ec)) {
    if (!fs::is_directory(out, ec))
      throw InputError("--out " + out.string() + " is not a folder");
    const bool empty = HoldsOnlyEmptyFolders(out, ec);
    if (ec) throw InputError("cannot read folder " + out.string() + ": " + ec.message());
    // Output folders of mkpatch versions that wrote no marker are taken over.
    const bool earlier_build = fs::is_regular_file(out / "resources" / "patch_data.rc", ec);
    if (!empty && !earlier_build)
      throw InputError("--out " + out.string() +
                       " is not empty and was not made by mkpatch (it has no " + kOutputMarker +
                       " file); the build replaces the folders it writes there, so choose a new "
                       "or empty folder");
  }
  fs::create_directories(out);
  std::ofstream(marker) << "This folder is written by mkpatch build; it replaces its resources "
                           "folder on every build.\n";
  if (!fs::exists(marker, ec)) throw InputError("cannot write " + marker.string());
}

}  // namespace vard::mkpatch
