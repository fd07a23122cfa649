#include "engine/held_target.h"

#include <windows.h>

#include <algorithm>

#include "base/paths.h"
#include "manifest/file_entry.h"

namespace vard {

TargetHold HeldTarget::Hold(const FileEntry& entry, bool create_folders) {
  path_.clear();
  folders_ = FolderChain();
  // Both made absolute the way the system would open them ("." and ".." resolved, the
  // dots and spaces that end a name dropped), so that the long form below names exactly
  // what the plain path named, and a path that leaves the installation shows itself.
  const std::wstring root = NormalizePath(FullPathName(entry.install_root), false, false);
  const std::wstring target = FullPathName(TargetPath(entry));
  if (root.empty() || target.empty()) return TargetHold::Failed;
  // An entry may name the installation folder itself (an empty name): that is no file,
  // which every caller finds out by itself.
  const std::wstring clean_target = NormalizePath(target, false, false);
  if (clean_target.compare(0, root.size(), root) != 0 ||
      (clean_target.size() > root.size() && clean_target[root.size()] != L'\\')) {
    return TargetHold::Refused;
  }
  const std::wstring below = clean_target.substr(std::min(clean_target.size(), root.size() + 1));

  // A drive's root is opened as its root folder, not as the volume.
  const bool volume_root = VolumeEnd(root) == root.size();
  const std::wstring named_root = LongPathForm(root) + (volume_root ? L"\\" : L"");
  // A volume without a drive letter (mounted in a folder) has no path of the resolved
  // kind: the installation folder is then held on the way it was named.
  std::wstring real_root = RealFolderPath(named_root);
  if (real_root.empty()) real_root = NormalizePath(named_root, false, false);
  if (real_root.empty() || !folders_.HoldBase(real_root)) return TargetHold::Failed;
  if (below.empty()) {
    path_ = real_root;
    return TargetHold::Held;
  }
  std::size_t start = 0;
  for (std::size_t end = below.find(L'\\'); end != std::wstring::npos;
       start = end + 1, end = below.find(L'\\', start)) {
    switch (folders_.Enter(below.substr(start, end - start), create_folders)) {
      case ChainStep::Held:
        break;
      case ChainStep::Missing:
        path_ = folders_.path() + L"\\" + below.substr(start);
        return TargetHold::Absent;
      case ChainStep::Link:
        return TargetHold::Refused;
      case ChainStep::Failed:
        return TargetHold::Failed;
    }
  }
  path_ = folders_.path() + L"\\" + below.substr(start);
  const DWORD attributes = GetFileAttributesW(path_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    path_.clear();
    return TargetHold::Refused;
  }
  return TargetHold::Held;
}

}  // namespace vard
