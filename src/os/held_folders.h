// Folders held open so that nobody can rename, remove or replace them (with a link to
// somewhere else) while the elevated patcher works below them: the game folder and the
// save folders may be writable by every user. Main thread; the holds last as long as the
// objects that keep them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vard {

// Opens the folder at path itself (never what a link names), so that nobody can rename or
// remove it until the result is released; attributes gets what the system reports for it.
// Null when it cannot be opened.
std::shared_ptr<void> HoldFolder(const std::wstring& path, std::uint32_t& attributes);

// The absolute form of path, resolved as the system resolves it when opening it (relative
// to the current folder, "." and ".." taken out); empty when it cannot be resolved.
std::wstring FullPathName(const std::wstring& path);

// The folder's path once every link on the way to it has been followed, in long-path
// form ("\\?\C:\..." or "\\?\UNC\..."); empty when the folder cannot be opened.
std::wstring RealFolderPath(const std::wstring& path);

enum class ChainStep {
  Held,     // the folder is held
  Missing,  // it does not exist (and was not to be created)
  Link,     // it is a reparse point: nothing below it is reached
  Failed,   // it could not be created, opened or held, or is a file
};

// Folders held from a volume's root down: first a base the caller trusts, then single
// folders below it, each of which must be a plain folder. Move-only; releasing it lets
// the folders go.
class FolderChain {
 public:
  // Holds every folder of base (absolute, long form, no trailing separator) below its
  // volume's root, base included. Links among them are accepted: base is where the caller
  // chose to work, reached the way the system reaches it. False when one is no folder or
  // cannot be held; the chain is then empty.
  bool HoldBase(const std::wstring& base);

  // Holds the sub-folder name of the deepest held folder and makes it the deepest. With
  // create, a missing folder is created first. Anything but Held leaves the chain as it was.
  ChainStep Enter(const std::wstring& name, bool create);

  // The deepest held folder.
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  std::vector<std::shared_ptr<void>> held_;
};

}  // namespace vard
