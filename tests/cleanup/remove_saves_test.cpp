#include "cleanup/remove_saves.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support/import_hook.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

const std::string kMarker("\0\0\0\0\x26\x6B\x84\xF2", 8);

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A data directory with one profile holding a kept save and a plain one.
struct DataDirectory {
  explicit DataDirectory(const std::wstring& root)
      : kept(root + L"\\settings\\profiles\\player\\savegames\\kept.sav"),
        plain(root + L"\\settings\\profiles\\player\\savegames\\plain.sav") {
    WriteFileBytes(kept, "slot" + kMarker);
    WriteFileBytes(plain, "slot data");
  }
  // True when this directory was cleaned: the plain save is gone, the kept one stays.
  bool Cleaned() const { return Exists(kept) && !Exists(plain); }
  bool Untouched() const { return Exists(kept) && Exists(plain); }
  std::wstring kept;
  std::wstring plain;
};

TEST(IsKeptSave, OnlyFilesEndingWithTheMarker) {
  TempDir dir;
  struct Case {
    const wchar_t* name;
    std::string bytes;
    bool kept;
  };
  const Case cases[] = {
      {L"marked", "long save contents" + kMarker, true},
      {L"exact", kMarker, true},
      {L"seven", kMarker.substr(1), false},
      {L"empty", "", false},
      {L"nonzero_word", std::string("save\x01\0\0\0\x26\x6B\x84\xF2", 12), false},
      {L"marker_early", kMarker + "tail", false},
      {L"big_endian", std::string("\0\0\0\0\xF2\x84\x6B\x26", 8), false},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.Path(c.name), c.bytes);
    EXPECT_EQ(IsKeptSave(dir.Path(c.name)), c.kept) << c.bytes.size();
  }
  EXPECT_FALSE(IsKeptSave(dir.Path(L"missing")));
  CreateDirectoryW(dir.Path(L"folder").c_str(), nullptr);
  EXPECT_FALSE(IsKeptSave(dir.Path(L"folder")));
}

TEST(ListEntries, FilesOrFoldersByPatternsWithoutDotEntriesOrSvn) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"alpha.sav"), "a");
  WriteFileBytes(dir.Path(L"beta.txt"), "b");
  WriteFileBytes(dir.Path(L".svn"), "file named like the folder");
  CreateDirectoryW(dir.Path(L"profile").c_str(), nullptr);
  CreateDirectoryW(dir.Path(L".svn_not").c_str(), nullptr);

  auto sorted = [](std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(ListEntries(dir.path(), "*", false)),
            (std::vector<std::wstring>{L"alpha.sav", L"beta.txt"}));
  EXPECT_EQ(sorted(ListEntries(dir.path() + L"/", "*", true)),
            (std::vector<std::wstring>{L".svn_not", L"profile"}));
  // Pattern by pattern, empty pieces skipped, a double match listed twice.
  EXPECT_EQ(ListEntries(dir.path(), ";*.sav;;b*;a*;", false),
            (std::vector<std::wstring>{L"alpha.sav", L"beta.txt", L"alpha.sav"}));
  EXPECT_TRUE(ListEntries(dir.Path(L"missing"), "*", false).empty());
}

TEST(CleanDataDirectory, DeletesUnmarkedSavesOnly) {
  TempDir dir;
  const std::wstring profiles = dir.Path(L"settings\\profiles\\");
  const std::wstring saves = profiles + L"anna\\savegames\\";
  WriteFileBytes(saves + L"keep.sav", "progress" + kMarker);
  WriteFileBytes(saves + L"one.sav", "progress");
  WriteFileBytes(saves + L"two.sav", "");
  WriteFileBytes(saves + L"seven.sav", kMarker.substr(1));
  WriteFileBytes(saves + L"old\\inside.sav", "sub-folders stay");
  WriteFileBytes(profiles + L"loose.sav", "files beside the profiles stay");
  WriteFileBytes(profiles + L".svn\\savegames\\meta.sav", "not a profile");
  WriteFileBytes(profiles + L"nosaves\\settings.cfg", "profile without save folder");
  WriteFileBytes(profiles + L"bert\\savegames\\b.sav", "second profile");

  CleanDataDirectory(dir.path() + L"//");

  EXPECT_TRUE(Exists(saves + L"keep.sav"));
  EXPECT_EQ(ReadFileBytes(saves + L"keep.sav"), "progress" + kMarker);
  EXPECT_FALSE(Exists(saves + L"one.sav"));
  EXPECT_FALSE(Exists(saves + L"two.sav"));
  EXPECT_FALSE(Exists(saves + L"seven.sav"));
  EXPECT_TRUE(Exists(saves + L"old\\inside.sav"));
  EXPECT_TRUE(Exists(profiles + L"loose.sav"));
  EXPECT_TRUE(Exists(profiles + L".svn\\savegames\\meta.sav"));
  EXPECT_TRUE(Exists(profiles + L"nosaves\\settings.cfg"));
  EXPECT_FALSE(Exists(profiles + L"bert\\savegames\\b.sav"));
  // Deleted for good, not moved to a recycle bin folder anywhere below.
  EXPECT_TRUE(Exists(profiles + L"bert\\savegames"));
}

// The owner of a save folder replaces the judged save by a folder holding a file of theirs
// as soon as the removal reads or deletes anything (between its check and its delete), and
// once more after it.
namespace swap {
std::wstring target;
bool done = false;
decltype(&ReadFile) real_read = nullptr;
decltype(&SHFileOperationW) real_shell = nullptr;

void Try() {
  if (done || target.empty()) return;
  if (!DeleteFileW(target.c_str()) && GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return;
  }
  done = true;
  CreateDirectoryW(target.c_str(), nullptr);
  WriteFileBytes(target + L"\\precious.dat", "not a save");
}
BOOL WINAPI Read(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
  Try();
  return real_read(file, buffer, size, got, overlapped);
}
int WINAPI Shell(LPSHFILEOPSTRUCTW operation) {
  Try();
  return real_shell(operation);
}
}  // namespace swap

TEST(CleanDataDirectory, DeletesTheFileItJudgedNotWhatTookItsName) {
  TempDir dir;
  const std::wstring saves = dir.Path(L"settings\\profiles\\anna\\savegames\\");
  swap::target = saves + L"one.sav";
  WriteFileBytes(swap::target, "progress");
  swap::real_read = reinterpret_cast<decltype(&ReadFile)>(
      test::HookImport("kernel32.dll", "ReadFile", reinterpret_cast<void*>(&swap::Read)));
  swap::real_shell = reinterpret_cast<decltype(&SHFileOperationW)>(
      test::HookImport("shell32.dll", "SHFileOperationW", reinterpret_cast<void*>(&swap::Shell)));
  ASSERT_NE(swap::real_read, nullptr);
  CleanDataDirectory(dir.path());
  swap::Try();
  test::HookImport("kernel32.dll", "ReadFile", reinterpret_cast<void*>(swap::real_read));
  if (swap::real_shell != nullptr) {
    test::HookImport("shell32.dll", "SHFileOperationW", reinterpret_cast<void*>(swap::real_shell));
  }
  // The save was deleted and nothing the owner put in its place afterwards.
  EXPECT_TRUE(swap::done);
  EXPECT_EQ(ReadFileBytes(saves + L"one.sav\\precious.dat"), "not a save");
}

TEST(CleanDataDirectory, MissingProfilesFolderIsNoFault) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"settings\\other.cfg"), "x");
  CleanDataDirectory(dir.path());
  CleanDataDirectory(dir.Path(L"missing"));
  EXPECT_TRUE(Exists(dir.Path(L"settings\\other.cfg")));
}

// RemoveSaves reads the shared application data folder; each test uses a product word of
// its own there and removes it afterwards.
class RemoveSavesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"EngineDataDirectory", nullptr);
    wchar_t shared[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, shared)));
    product = L"VARDTEST" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              std::to_wstring(++counter);
    product_folder = std::wstring(shared) + L"\\" + product;
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"EngineDataDirectory", nullptr);
    TempDir::RemoveTree(product_folder);
  }
  void WriteLocation(int n, const std::string& text) {
    WriteFileBytes(product_folder + L"\\" + std::to_wstring(n), text);
  }
  static std::string Narrow(const std::wstring& path) {
    return std::string(path.begin(), path.end());  // temp paths here are ASCII
  }

  static inline int counter = 0;
  std::wstring product;
  std::wstring product_folder;
  TempDir install;
  TempDir other;
};

TEST_F(RemoveSavesTest, OnlyTheInstallPathWithoutAnyLocation) {
  DataDirectory installed(install.path());
  DataDirectory elsewhere(other.path());
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(installed.Cleaned());
  EXPECT_TRUE(elsewhere.Untouched());
}

TEST_F(RemoveSavesTest, EnvironmentVariableAndDataDirectoryFile) {
  DataDirectory installed(install.path());
  DataDirectory from_env(other.Path(L"env"));
  DataDirectory from_file(other.Path(L"Caf\u00E9"));
  DataDirectory not_named(other.Path(L"unnamed"));
  SetEnvironmentVariableW(L"EngineDataDirectory", other.Path(L"env").c_str());
  // UTF-8 text, read up to its last byte.
  WriteFileBytes(install.Path(L"data_directory"), Narrow(other.path()) + "\\Caf\xC3\xA9");
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(installed.Cleaned());
  EXPECT_TRUE(from_env.Cleaned());
  EXPECT_TRUE(from_file.Cleaned());
  EXPECT_TRUE(not_named.Untouched());
}

TEST_F(RemoveSavesTest, DataDirectoryFileNamingTheInstallFolderItself) {
  DataDirectory installed(install.path());
  WriteFileBytes(install.Path(L"data_directory"), Narrow(install.path()) + std::string("\0junk", 5));
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(installed.Cleaned());
  EXPECT_TRUE(Exists(install.Path(L"data_directory")));
}

TEST_F(RemoveSavesTest, OverlongEnvironmentValueIsIgnored) {
  DataDirectory elsewhere(other.path());
  SetEnvironmentVariableW(L"EngineDataDirectory",
                          (other.path() + L"\\" + std::wstring(300, L'x') + L"\\..").c_str());
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(elsewhere.Untouched());
}

TEST_F(RemoveSavesTest, NumberedLocationFilesMustBeConsecutiveFromZero) {
  DataDirectory zero(other.Path(L"zero"));
  DataDirectory one(other.Path(L"one"));
  DataDirectory three(other.Path(L"three"));
  WriteLocation(0, Narrow(other.Path(L"zero")));
  WriteLocation(1, Narrow(other.Path(L"one")));
  WriteLocation(3, Narrow(other.Path(L"three")));
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(zero.Cleaned());
  EXPECT_TRUE(one.Cleaned());
  EXPECT_TRUE(three.Untouched());
}

TEST_F(RemoveSavesTest, NumberedFilesOfExactly260Bytes) {
  // A path followed by zero padding up to 260 bytes: the text ends at the first zero.
  DataDirectory padded(other.Path(L"padded"));
  std::string text = Narrow(other.Path(L"padded"));
  text.resize(260, '\0');
  WriteLocation(0, text);
  // 260 bytes of text without any zero: more than a path can hold, passed over, and the
  // search goes on with the next number.
  DataDirectory full(other.path());
  std::string long_text = Narrow(other.path()) + "\\";
  long_text.resize(260, 'y');
  WriteLocation(1, long_text);
  DataDirectory after(other.Path(L"after"));
  WriteLocation(2, Narrow(other.Path(L"after")));
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(padded.Cleaned());
  EXPECT_TRUE(full.Untouched());
  EXPECT_TRUE(after.Cleaned());
}

// Every path the removal hands to the file system, while watched.
namespace watch {
std::vector<std::wstring> paths;
decltype(&CreateFileW) real_create = nullptr;
decltype(&GetFileAttributesW) real_attributes = nullptr;
decltype(&FindFirstFileW) real_find = nullptr;
HANDLE WINAPI Create(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g) {
  paths.push_back(a);
  return real_create(a, b, c, d, e, f, g);
}
DWORD WINAPI Attributes(LPCWSTR path) {
  paths.push_back(path);
  return real_attributes(path);
}
HANDLE WINAPI Find(LPCWSTR path, LPWIN32_FIND_DATAW found) {
  paths.push_back(path);
  return real_find(path, found);
}
template <typename F>
F Hook(const char* name, F replacement) {
  return reinterpret_cast<F>(test::HookImport("kernel32.dll", name, reinterpret_cast<void*>(replacement)));
}
}  // namespace watch

TEST_F(RemoveSavesTest, LocationsOnOtherMachinesAreNotFollowed) {
  DataDirectory local(other.path());
  WriteFileBytes(install.Path(L"data_directory"), "\\\\server\\share\\Saves");
  WriteLocation(0, "//server/share/Saves");
  WriteLocation(1, "\\\\?\\UNC\\server\\share\\Saves");
  WriteLocation(2, "\\\\server@SSL@443\\DavWWWRoot\\Saves");
  WriteLocation(3, Narrow(other.path()));
  watch::paths.clear();
  watch::real_create = watch::Hook("CreateFileW", &watch::Create);
  watch::real_attributes = watch::Hook("GetFileAttributesW", &watch::Attributes);
  watch::real_find = watch::Hook("FindFirstFileW", &watch::Find);
  RemoveSaves(install.path(), product);
  watch::Hook("CreateFileW", watch::real_create);
  watch::Hook("GetFileAttributesW", watch::real_attributes);
  watch::Hook("FindFirstFileW", watch::real_find);
  EXPECT_TRUE(local.Cleaned());
  for (const std::wstring& path : watch::paths) {
    EXPECT_EQ(path.find(L"server"), std::wstring::npos) << path;
  }
}

TEST_F(RemoveSavesTest, EmptyLocationTextsDoNotEndTheSearch) {
  WriteLocation(0, "");
  WriteLocation(1, std::string("\0", 1));
  DataDirectory later(other.path());
  WriteLocation(2, Narrow(other.path()));
  WriteFileBytes(install.Path(L"data_directory"), std::string("\0\0", 2));
  RemoveSaves(install.path(), product);
  EXPECT_TRUE(later.Cleaned());
}

}  // namespace
}  // namespace vard
