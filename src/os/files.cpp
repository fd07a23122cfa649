#include "os/files.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "base/paths.h"
#include "os/deletable_file.h"
#include "os/win_handle.h"

namespace vard {

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool QueryFileSize(const std::wstring& path, std::uint64_t& size) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER value{};
  const BOOL ok = GetFileSizeEx(file.get(), &value);
  size = ok ? static_cast<std::uint64_t>(value.QuadPart) : 0;
  return ok != FALSE;
}

bool CreateDirectoryTree(const std::wstring& path) {
  const std::wstring clean = NormalizePath(path, false, false);
  std::wstring prefix;
  std::size_t start = 0;
  const std::size_t volume_end = VolumeEnd(clean);
  if (volume_end != std::wstring::npos) {
    // The volume (a drive, \\server\share, their long forms) is the root of the chain: it
    // exists or nothing does.
    if (volume_end >= clean.size()) return true;
    prefix = clean.substr(0, volume_end + 1);
    start = volume_end + 1;
  } else if (IsNetworkPath(clean)) {
    return true;  // "\\server" or "\\server\": no share named, nothing to create
  }
  while (start <= clean.size()) {
    std::size_t end = clean.find(L'\\', start);
    if (end == std::wstring::npos) end = clean.size();
    if (end > start) {
      prefix.append(clean, start, end - start);
      if (!PathExists(prefix) && !CreateDirectoryW(prefix.c_str(), nullptr)) return false;
      prefix.push_back(L'\\');
    }
    start = end + 1;
  }
  return true;
}

namespace {

// The shell takes lists of paths, each ended by a NUL and the list by a second NUL.
std::vector<wchar_t> ShellList(const std::wstring& path) {
  std::vector<wchar_t> list(path.begin(), path.end());
  list.push_back(L'\0');
  list.push_back(L'\0');
  return list;
}

bool ShellOperation(UINT operation, const std::wstring& from, const std::wstring* to) {
  std::vector<wchar_t> from_list = ShellList(from);
  std::vector<wchar_t> to_list;
  SHFILEOPSTRUCTW op{};
  op.hwnd = nullptr;
  op.wFunc = operation;
  op.pFrom = from_list.data();
  if (to != nullptr) {
    to_list = ShellList(*to);
    op.pTo = to_list.data();
  }
  // No FOF_ALLOWUNDO: deletions never go to the recycle bin.
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationW(&op) == 0;
}

}  // namespace

bool DeletePath(const std::wstring& path) { return ShellOperation(FO_DELETE, path, nullptr); }

bool RenamePath(const std::wstring& from, const std::wstring& to) {
  return ShellOperation(FO_RENAME, from, &to);
}

bool ReplacePath(const std::wstring& from, const std::wstring& to) {
  {
    FileHandle file(CreateFileW(from.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !FlushFileBuffers(file.get())) return false;
  }
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

FileDeletion DeleteFileOnly(const std::wstring& path) {
  // Decided on what the handle holds, so nothing can be swapped in after the check.
  DeletableFile file;
  if (!file.Open(path, DeletableFile::Sharing::All)) {
    return file.missing() ? FileDeletion::Missing : FileDeletion::Failed;
  }
  if (!file.IsPlainFile()) return FileDeletion::NotAFile;
  return file.Delete() ? FileDeletion::Deleted : FileDeletion::Failed;
}

bool RemoveFile(const std::wstring& path) {
  DeleteFileW(path.c_str());
  return !PathExists(path);
}

bool ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return true;
  }
  return SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != FALSE;
}

}  // namespace vard
