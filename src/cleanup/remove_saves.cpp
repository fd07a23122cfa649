#include "cleanup/remove_saves.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "base/paths.h"
#include "base/text.h"
#include "os/deletable_file.h"
#include "os/files.h"
#include "os/held_folders.h"
#include "cleanup/save_location.h"
#include "cleanup/save_walk.h"
#include "os/win_handle.h"

namespace vard {

namespace {

constexpr std::uint32_t kKeepMarker = 0xF2846B26u;
// The longest location text read from "data_directory" and from a numbered file.
constexpr DWORD kDataDirectoryFileBytes = 259;
constexpr DWORD kNumberedFileBytes = 260;

FileHandle OpenForReading(const std::wstring& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads up to limit bytes; false when the read fails. The result holds exactly the bytes
// read, so the caller's text ends after the last of them (or at an earlier zero byte).
bool ReadPrefix(const FileHandle& file, DWORD limit, std::string& bytes) {
  bytes.assign(limit, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.data(), limit, &got, nullptr)) return false;
  bytes.resize(got);
  return true;
}

// An empty location text would name "\settings\profiles\" at the root of the current
// drive, a folder the game never named; such a text is passed over.
void CleanNamedDirectory(const std::wstring& directory) {
  if (!directory.empty()) CleanDataDirectory(directory);
}

// A folder named by a location file, which ordinary users may write, is cleaned only when
// it lies on this machine: a share or a mapped network drive stays untouched, so that the
// elevated patcher never connects to a server a user chose (save_location.h).
void CleanLocatedDirectory(const std::wstring& directory) {
  if (directory.empty()) return;
  wchar_t drive = 0;
  if (!IsLocalLocation(FullPathName(NormalizePath(directory, true, false)), drive)) return;
  if (drive != 0) {
    const wchar_t root[] = {drive, L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_REMOTE) return;
  }
  CleanDataDirectory(directory);
}

void CleanFromDataDirectoryFile(const std::wstring& install_path) {
  FileHandle file = OpenForReading(NormalizePath(install_path, false, false) + L"\\data_directory");
  if (!file) return;
  std::string bytes;
  if (!ReadPrefix(file, kDataDirectoryFileBytes, bytes) || bytes.empty()) return;
  CleanLocatedDirectory(Utf8ToWide(bytes));
}

void CleanFromEnvironment() {
  wchar_t value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"EngineDataDirectory", value, MAX_PATH);
  // A value that does not fit returns the size it needs and fills nothing: not used.
  if (length == 0 || length >= MAX_PATH) return;
  CleanNamedDirectory(std::wstring(value, length));
}

// The numbered location files of the shared application data folder, which the game
// writes from 0 upwards: the first missing number ends the search.
void CleanFromNumberedFiles(const std::wstring& product) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version) || version.dwMajorVersion < 6) return;

  wchar_t shared[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, shared))) return;
  const std::wstring folder = NormalizePath(shared, false, false) + L"\\" + product + L"\\";
  if (!PathExists(folder)) return;

  for (unsigned n = 0;; ++n) {
    FileHandle file = OpenForReading(folder + std::to_wstring(n));
    if (!file) return;
    std::string bytes;
    if (!ReadPrefix(file, kNumberedFileBytes, bytes)) continue;
    // bytes keeps the terminator outside the 260 bytes read (a full 260-byte file needs
    // 261 bytes with it). A text that does not convert into MAX_PATH units is passed over.
    wchar_t path[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, path, MAX_PATH) == 0) continue;
    CleanLocatedDirectory(path);
  }
}

// Reads the last 8 bytes of an open file: true when they are the keep marker. Files of
// 4 GiB or more are never kept saves.
bool EndsWithKeepMarker(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 8 || size.QuadPart >= (LONGLONG{1} << 32)) {
    return false;
  }
  LARGE_INTEGER back{};
  back.QuadPart = -8;
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(file, back, &position, FILE_END) || position.QuadPart != size.QuadPart - 8) {
    return false;
  }
  std::uint32_t words[2];
  for (std::uint32_t& word : words) {
    DWORD got = 0;
    unsigned char bytes[4];
    if (!ReadFile(file, bytes, 4, &got, nullptr) || got != 4) return false;
    word = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  }
  return words[0] == 0 && words[1] == kKeepMarker;
}

// A save file opened without following links, shared for reading only: until it is
// closed nobody can write, rename or delete it, or put a link in its place.
class WindowsSaveFile final : public SaveFile {
 public:
  explicit WindowsSaveFile(DeletableFile file) : file_(std::move(file)) {}
  std::uint32_t attributes() const override { return file_.attributes(); }
  bool IsKept() override { return EndsWithKeepMarker(file_.handle()); }
  void Delete() override { file_.Delete(); }

 private:
  DeletableFile file_;
};

// The walk's view of the Windows file system.
class WindowsSaveFiles : public SaveFileSystem {
 public:
  std::shared_ptr<void> Hold(const std::wstring& path, std::uint32_t& attributes) override {
    return HoldFolder(path, attributes);
  }

  std::vector<std::wstring> List(const std::wstring& folder, bool want_folders) override {
    return ListEntries(folder, "*", want_folders);
  }

  std::wstring FullPath(const std::wstring& path) override { return FullPathName(path); }

  std::unique_ptr<SaveFile> Open(const std::wstring& path) override {
    DeletableFile file;
    if (!file.Open(path, DeletableFile::Sharing::ReadersOnly)) return nullptr;
    return std::make_unique<WindowsSaveFile>(std::move(file));
  }
};

}  // namespace

void RemoveSaves(const std::wstring& install_path, const std::wstring& product) {
  CleanDataDirectory(install_path);
  CleanFromEnvironment();
  CleanFromDataDirectoryFile(install_path);
  CleanFromNumberedFiles(product);
}

void CleanDataDirectory(const std::wstring& directory) {
  WindowsSaveFiles files;
  WalkDataDirectory(files, directory);
}

std::vector<std::wstring> ListEntries(const std::wstring& folder, const std::string& patterns,
                                      bool want_folders) {
  std::vector<std::wstring> names;
  const std::wstring base = NormalizePath(folder, true, false);
  std::size_t start = 0;
  while (start <= patterns.size()) {
    std::size_t end = patterns.find(';', start);
    if (end == std::string::npos) end = patterns.size();
    if (end > start) {
      const std::wstring query = base + Utf8ToWide(patterns.substr(start, end - start));
      WIN32_FIND_DATAW found;
      FindHandle find(FindFirstFileW(query.c_str(), &found));
      if (find) {
        do {
          const std::wstring name = found.cFileName;
          if (name == L"." || name == L".." || name == L".svn") continue;
          const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
          if (is_folder == want_folders) names.push_back(name);
        } while (FindNextFileW(find.get(), &found));
      }
    }
    start = end + 1;
  }
  return names;
}

bool IsKeptSave(const std::wstring& path) {
  FileHandle file = OpenForReading(path);
  return file && EndsWithKeepMarker(file.get());
}

}  // namespace vard
