#include "cleanup/save_walk.h"

#include "base/paths.h"

namespace vard {

bool IsPlainFolder(std::uint32_t attributes) {
  return (attributes & kAttributeDirectory) != 0 && (attributes & kAttributeReparsePoint) == 0;
}

bool IsPlainFile(std::uint32_t attributes) {
  return (attributes & (kAttributeDirectory | kAttributeReparsePoint)) == 0;
}

namespace {

// Holds the folder when it is a plain one; null otherwise.
std::shared_ptr<void> EnterFolder(SaveFileSystem& files, const std::wstring& path) {
  std::uint32_t attributes = 0;
  std::shared_ptr<void> held = files.Hold(path, attributes);
  if (held == nullptr || !IsPlainFolder(attributes)) return nullptr;
  return held;
}

}  // namespace

void WalkDataDirectory(SaveFileSystem& files, const std::wstring& directory) {
  // The trailing separator makes a bare drive ("C:") name its root, not its current folder.
  const std::wstring named = NormalizePath(directory, true, false);
  if (named.empty()) return;
  const std::wstring root = NormalizePath(files.FullPath(named), false, false);
  const std::size_t volume_end = VolumeEnd(root);
  if (volume_end == std::wstring::npos) return;
  // Every folder below the volume's root, down to the profiles, stays held while the walk
  // is below it.
  std::vector<std::shared_ptr<void>> above;
  for (std::size_t at = root.find(L'\\', volume_end + 1); at != std::wstring::npos;
       at = root.find(L'\\', at + 1)) {
    above.push_back(EnterFolder(files, root.substr(0, at)));
    if (above.back() == nullptr) return;
  }
  const std::shared_ptr<void> root_held = EnterFolder(files, root);
  if (root_held == nullptr) return;
  const std::shared_ptr<void> settings_held = EnterFolder(files, root + L"\\settings");
  if (settings_held == nullptr) return;
  const std::wstring profiles = root + L"\\settings\\profiles\\";
  const std::shared_ptr<void> profiles_held = EnterFolder(files, root + L"\\settings\\profiles");
  if (profiles_held == nullptr) return;

  for (const std::wstring& name : files.List(profiles, true)) {
    const std::wstring profile = profiles + NormalizePath(name, false, false);
    const std::shared_ptr<void> profile_held = EnterFolder(files, profile);
    if (profile_held == nullptr) continue;
    const std::wstring saves = profile + L"\\savegames";
    const std::shared_ptr<void> saves_held = EnterFolder(files, saves);
    if (saves_held == nullptr) continue;
    for (const std::wstring& file : files.List(saves + L"\\", false)) {
      const std::unique_ptr<SaveFile> save = files.Open(saves + L"\\" + file);
      if (save == nullptr || !IsPlainFile(save->attributes()) || save->IsKept()) continue;
      save->Delete();
    }
  }
}

}  // namespace vard
