// Folder holds and chains against Wine's real files. Links cannot be made from inside Wine
// (CreateSymbolicLinkW creates nothing); the end-to-end scenarios plant them from outside.
#include "os/held_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/paths.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::TempDir;
using test::WriteFileBytes;

TEST(HoldFolder, NobodyRenamesOrRemovesAHeldFolder) {
  TempDir dir;
  const std::wstring folder = dir.Path(L"held");
  WriteFileBytes(folder + L"\\inside.sav", "x");
  std::uint32_t attributes = 0;
  std::shared_ptr<void> held = HoldFolder(folder, attributes);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
            static_cast<std::uint32_t>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(MoveFileW(folder.c_str(), dir.Path(L"moved").c_str()));
  EXPECT_TRUE(DeleteFileW((folder + L"\\inside.sav").c_str()));
  EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
  held.reset();
  EXPECT_TRUE(MoveFileW(folder.c_str(), dir.Path(L"moved").c_str()));
}

TEST(FolderChain, HoldsEveryFolderFromTheVolumeDownAndEntersOnlyFolders) {
  TempDir dir;
  WriteFileBytes(dir.Path(L"game\\data\\file.bin"), "x");
  const std::wstring base = RealFolderPath(LongPathForm(FullPathName(dir.Path(L"game"))));
  ASSERT_EQ(base.rfind(L"\\\\?\\", 0), 0u) << base;
  {
    FolderChain chain;
    ASSERT_TRUE(chain.HoldBase(base));
    EXPECT_EQ(chain.Enter(L"file.bin", false), ChainStep::Missing);
    EXPECT_EQ(chain.Enter(L"data", false), ChainStep::Held);
    EXPECT_EQ(chain.Enter(L"file.bin", true), ChainStep::Failed);  // a file, not a folder
    EXPECT_EQ(chain.Enter(L"new", false), ChainStep::Missing);
    EXPECT_EQ(chain.path(), base + L"\\data");
    EXPECT_EQ(chain.Enter(L"new", true), ChainStep::Held);
    EXPECT_EQ(chain.path(), base + L"\\data\\new");
    // Neither the base nor a folder above or below it can be moved while held.
    EXPECT_FALSE(MoveFileW(dir.Path(L"game").c_str(), dir.Path(L"moved").c_str()));
    EXPECT_FALSE(MoveFileW(dir.path().c_str(), (dir.path() + L"-moved").c_str()));
    EXPECT_FALSE(MoveFileW(dir.Path(L"game\\data\\new").c_str(), dir.Path(L"game\\n2").c_str()));
  }
  EXPECT_TRUE(MoveFileW(dir.Path(L"game").c_str(), dir.Path(L"moved").c_str()));
  FolderChain gone;
  EXPECT_FALSE(gone.HoldBase(base));
  EXPECT_EQ(gone.Enter(L"data", true), ChainStep::Failed);
}

}  // namespace
}  // namespace vard
