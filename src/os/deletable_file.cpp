#include "os/deletable_file.h"

namespace vard {
namespace {

// FileDispositionInfoEx and its flags (Windows 10 1607 and later), which not every header
// set declares.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

}  // namespace

bool DeletableFile::Open(const std::wstring& path, Sharing sharing) {
  const bool readers_only = sharing == Sharing::ReadersOnly;
  const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                       (readers_only ? GENERIC_READ : 0);
  const DWORD share =
      readers_only ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  file_.reset(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  attributes_ = 0;
  missing_ = false;
  if (!file_) {
    const DWORD error = GetLastError();
    missing_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return false;
  }
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &basic, sizeof basic)) {
    file_.reset();
    return false;
  }
  // The name cannot change while the entry is open, so both views describe it.
  const DWORD listed = GetFileAttributesW(path.c_str());
  attributes_ = basic.FileAttributes | (listed == INVALID_FILE_ATTRIBUTES ? 0 : listed);
  return true;
}

bool DeletableFile::IsPlainFile() const {
  return file_ && (attributes_ & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool DeletableFile::Delete() {
  if (!file_) return false;
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(file_.get(), kDispositionInfoEx, &flags, sizeof flags)) {
    return true;
  }
  // A read-only file refuses the classic delete (common for games installed from disc):
  // its attribute is cleared first and put back when the delete still fails.
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file_.get(), FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  const DWORD kept = basic.FileAttributes;
  const bool read_only = (kept & FILE_ATTRIBUTE_READONLY) != 0;
  // Zero times leave the file's times as they are; zero attributes would too.
  basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
  basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
  if (read_only) {
    basic.FileAttributes = kept & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)) {
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                 sizeof disposition)) {
    return true;
  }
  if (read_only) {
    basic.FileAttributes = kept;
    SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic);
  }
  return false;
}

}  // namespace vard
