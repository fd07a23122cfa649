#include "os/held_folders.h"

#include <windows.h>

#include "base/paths.h"
#include "os/win_handle.h"

namespace vard {

std::shared_ptr<void> HoldFolder(const std::wstring& path, std::uint32_t& attributes) {
  const DWORD listed = GetFileAttributesW(path.c_str());
  if (listed == INVALID_FILE_ATTRIBUTES) return nullptr;
  // Without delete sharing nobody can rename or remove the folder (and put a link in its
  // place) while it is open. The system weighs sharing only for handles that may read,
  // write or delete: one that may read attributes alone would hold nothing, hence the
  // right to list the folder.
  const HANDLE handle = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  std::shared_ptr<void> held(handle, CloseHandle);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return nullptr;
  // Both views count: Wine reports a link to a folder in the listed attributes only.
  attributes = listed | info.dwFileAttributes;
  return held;
}

std::wstring FullPathName(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  full.resize(length);
  return full;
}

std::wstring RealFolderPath(const std::wstring& path) {
  FileHandle folder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return std::wstring();
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD needed = GetFinalPathNameByHandleW(folder.get(), nullptr, 0, flags);
  if (needed == 0) return std::wstring();
  std::wstring real(needed, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(folder.get(), real.data(), needed, flags);
  if (length == 0 || length >= needed) return std::wstring();
  real.resize(length);
  return LongPathForm(NormalizePath(real, false, false));
}

bool FolderChain::HoldBase(const std::wstring& base) {
  path_.clear();
  held_.clear();
  const std::size_t volume_end = VolumeEnd(base);
  if (volume_end == std::wstring::npos) return false;
  // A base at the volume's root holds the root itself.
  std::vector<std::wstring> folders;
  if (volume_end == base.size()) {
    folders.push_back(base + L"\\");
  } else {
    for (std::size_t at = volume_end; at != std::wstring::npos;) {
      at = base.find(L'\\', at + 1);
      folders.push_back(base.substr(0, at));
    }
  }
  std::vector<std::shared_ptr<void>> held;
  for (const std::wstring& folder : folders) {
    std::uint32_t attributes = 0;
    std::shared_ptr<void> hold = HoldFolder(folder, attributes);
    if (hold == nullptr || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    held.push_back(std::move(hold));
  }
  held_ = std::move(held);
  path_ = base;
  return true;
}

ChainStep FolderChain::Enter(const std::wstring& name, bool create) {
  if (held_.empty()) return ChainStep::Failed;
  const std::wstring folder = path_ + L"\\" + name;
  if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return ChainStep::Failed;
    if (!create) return ChainStep::Missing;
    // Someone may create it (or a link) first: whatever then stands there is judged below.
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return ChainStep::Failed;
    }
  }
  std::uint32_t attributes = 0;
  std::shared_ptr<void> hold = HoldFolder(folder, attributes);
  if (hold == nullptr) return ChainStep::Failed;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ChainStep::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ChainStep::Failed;
  held_.push_back(std::move(hold));
  path_ = folder;
  return ChainStep::Held;
}

}  // namespace vard
