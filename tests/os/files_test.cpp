// File-system helpers against Wine's real Win32 and shell implementation.
#include "os/files.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/paths.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::TempDir;
using test::WriteFileBytes;

// Watches for any window of this process while alive; a dialog from the shell would be
// one. Closes what it finds so that a regression fails instead of hanging.
class NoWindowWatch {
 public:
  NoWindowWatch() : thread_([this] { Run(); }) {}
  ~NoWindowWatch() {
    stop_ = true;
    thread_.join();
  }
  bool SawWindow() const { return seen_; }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window)) {
      reinterpret_cast<NoWindowWatch*>(self)->seen_ = true;
      PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      EnumWindows(&Visit, reinterpret_cast<LPARAM>(this));
      Sleep(5);
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::thread thread_;
};

TEST(PathExists, FilesAndFoldersExistMissingPathsDoNot) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"a.bin"), "x");
  EXPECT_TRUE(PathExists(dir.Path(L"a.bin")));
  EXPECT_TRUE(PathExists(dir.path()));
  EXPECT_FALSE(PathExists(dir.Path(L"missing.bin")));
}

TEST(QueryFileSize, ReadsSizesIncludingZero) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"empty"), "");
  WriteFileBytes(dir.Path(L"five"), "12345");
  std::uint64_t size = 99;
  EXPECT_TRUE(QueryFileSize(dir.Path(L"empty"), size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(QueryFileSize(dir.Path(L"five"), size));
  EXPECT_EQ(size, 5u);
  size = 77;
  EXPECT_FALSE(QueryFileSize(dir.Path(L"missing"), size));
  EXPECT_EQ(size, 77u);
}

TEST(QueryFileSize, AFileHeldWithoutReadSharingHasNoSize) {
  TempDir dir;
  const std::wstring path = dir.Path(L"held.bin");
  WriteFileBytes(path, "held");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::uint64_t size = 1234;
  EXPECT_FALSE(QueryFileSize(path, size));
  EXPECT_EQ(size, 1234u);
  CloseHandle(held);
  EXPECT_TRUE(QueryFileSize(path, size));
  EXPECT_EQ(size, 4u);
}

TEST(CreateDirectoryTree, CreatesTheWholeChainOnce) {
  TempDir dir;
  const std::wstring deep = dir.Path(L"a/b//c\\d\\");
  EXPECT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(PathExists(dir.Path(L"a\\b\\c\\d")));
  EXPECT_TRUE(CreateDirectoryTree(deep));  // already there: still true
  EXPECT_TRUE(CreateDirectoryTree(L""));
}

TEST(CreateDirectoryTree, StopsAtAPieceThatCannotBeCreated) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"a\\file"), "not a folder");
  EXPECT_FALSE(CreateDirectoryTree(dir.Path(L"a\\file\\z")));
  EXPECT_FALSE(PathExists(dir.Path(L"a\\file\\z")));
  // Folders created before the failing piece remain.
  EXPECT_FALSE(CreateDirectoryTree(dir.Path(L"fresh\\in*valid\\z")));
  EXPECT_TRUE(PathExists(dir.Path(L"fresh")));
}

TEST(CreateDirectoryTree, ANetworkPathIsNeverCreatedOnTheCurrentDrive) {
  TempDir dir;
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(dir.Path(L"").c_str());
  // No such server: nothing can be created, and nothing below the current folder either.
  EXPECT_FALSE(CreateDirectoryTree(L"\\\\vard-no-server\\share\\Game\\sub"));
  EXPECT_FALSE(PathExists(dir.Path(L"vard-no-server")));
  SetCurrentDirectoryW(previous);
}

TEST(DeletePath, RemovesFilesAndWholeFoldersSilently) {
  TempDir dir;
  NoWindowWatch watch;
  WriteFileBytes(dir.Path(L"one.txt"), "1");
  WriteFileBytes(dir.Path(L"tree\\sub\\two.txt"), "2");
  WriteFileBytes(dir.Path(L"tree\\three.txt"), "3");
  EXPECT_TRUE(DeletePath(dir.Path(L"one.txt")));
  EXPECT_FALSE(PathExists(dir.Path(L"one.txt")));
  EXPECT_TRUE(DeletePath(dir.Path(L"tree")));
  EXPECT_FALSE(PathExists(dir.Path(L"tree")));
  EXPECT_FALSE(DeletePath(dir.Path(L"missing.txt")));
  EXPECT_FALSE(DeletePath(dir.Path(L"missing\\deeper")));
  EXPECT_FALSE(watch.SawWindow());
}

TEST(DeletePath, NothingGoesToTheRecycleBin) {
  SHQUERYRBINFO before{sizeof(SHQUERYRBINFO), 0, 0};
  ASSERT_EQ(SHQueryRecycleBinW(nullptr, &before), S_OK);
  TempDir dir;
  WriteFileBytes(dir.Path(L"deleted.bin"), std::string(4096, 'x'));
  WriteFileBytes(dir.Path(L"folder\\inner.bin"), "inner");
  ASSERT_TRUE(DeletePath(dir.Path(L"deleted.bin")));
  ASSERT_TRUE(DeletePath(dir.Path(L"folder")));
  SHQUERYRBINFO after{sizeof(SHQUERYRBINFO), 0, 0};
  ASSERT_EQ(SHQueryRecycleBinW(nullptr, &after), S_OK);
  EXPECT_EQ(after.i64NumItems, before.i64NumItems);
  EXPECT_EQ(after.i64Size, before.i64Size);
}

TEST(DeleteFileOnly, DeletesReadOnlyFilesAndLeavesFoldersWithEverythingInThem) {
  TempDir dir;
  const std::wstring game = LongPathForm(dir.path());
  WriteFileBytes(dir.Path(L"ro.bin"), "r");
  SetFileAttributesW(dir.Path(L"ro.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileBytes(dir.Path(L"folder.bin\\player.sav"), "mine");
  EXPECT_EQ(DeleteFileOnly(game + L"\\ro.bin"), FileDeletion::Deleted);
  EXPECT_FALSE(PathExists(dir.Path(L"ro.bin")));
  EXPECT_EQ(DeleteFileOnly(game + L"\\folder.bin"), FileDeletion::NotAFile);
  EXPECT_EQ(test::ReadFileBytes(dir.Path(L"folder.bin\\player.sav")), "mine");
  EXPECT_EQ(DeleteFileOnly(game + L"\\missing.bin"), FileDeletion::Missing);
  EXPECT_EQ(DeleteFileOnly(game + L"\\missing\\deeper.bin"), FileDeletion::Missing);
  // A game holding its file open without delete sharing keeps it.
  WriteFileBytes(dir.Path(L"held.bin"), "h");
  HANDLE held = CreateFileW(dir.Path(L"held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(DeleteFileOnly(game + L"\\held.bin"), FileDeletion::Failed);
  CloseHandle(held);
  EXPECT_EQ(test::ReadFileBytes(dir.Path(L"held.bin")), "h");
}

TEST(RenamePath, RenamesWithoutPromptingAndFailsQuietly) {
  TempDir dir;
  NoWindowWatch watch;
  WriteFileBytes(dir.Path(L"undiff.dat"), "new content");
  EXPECT_TRUE(RenamePath(dir.Path(L"undiff.dat"), dir.Path(L"game.exe")));
  EXPECT_FALSE(PathExists(dir.Path(L"undiff.dat")));
  EXPECT_EQ(test::ReadFileBytes(dir.Path(L"game.exe")), "new content");
  EXPECT_FALSE(RenamePath(dir.Path(L"absent.dat"), dir.Path(L"other.dat")));
  EXPECT_FALSE(PathExists(dir.Path(L"other.dat")));
  EXPECT_FALSE(watch.SawWindow());
}

}  // namespace
}  // namespace vard
