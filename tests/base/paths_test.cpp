#include "base/paths.h"

#include <gtest/gtest.h>

namespace vard {
namespace {

TEST(NormalizePath, UnifiesSeparatorsAndCollapsesRuns) {
  EXPECT_EQ(NormalizePath(L"D:/Games//X/sub/", false, false), L"D:\\Games\\X\\sub");
  EXPECT_EQ(NormalizePath(L"D:/Games//X/sub/", true, false), L"D:\\Games\\X\\sub\\");
  EXPECT_EQ(NormalizePath(L"D:\\Games\\X\\sub", true, false), L"D:\\Games\\X\\sub\\");
  EXPECT_EQ(NormalizePath(L"a\\/\\/b", false, false), L"a\\b");
  EXPECT_EQ(NormalizePath(L"/bundles/patch.bundle", false, false), L"bundles\\patch.bundle");
  EXPECT_EQ(NormalizePath(L"local\\french", false, false), L"local\\french");
}

TEST(NormalizePath, LeadingFlagDecidesWhatHappensToALeadingRun) {
  EXPECT_EQ(NormalizePath(L"\\bundles\\", false, true), L"\\bundles");
  EXPECT_EQ(NormalizePath(L"\\bundles\\", false, false), L"bundles");
  EXPECT_EQ(NormalizePath(L"///a", true, true), L"\\a\\");
  EXPECT_EQ(NormalizePath(L"///a", true, false), L"a\\");
}

TEST(NormalizePath, ANetworkPathKeepsItsTwoLeadingSeparators) {
  // Without them \\server\share\Game would name \server\share\Game on the current drive.
  for (bool leading : {false, true}) {
    EXPECT_EQ(NormalizePath(L"\\\\server\\share\\Game", false, leading), L"\\\\server\\share\\Game");
    EXPECT_EQ(NormalizePath(L"//server//share/Game/", true, leading), L"\\\\server\\share\\Game\\");
    EXPECT_EQ(NormalizePath(L"\\\\?\\C:\\Game", false, leading), L"\\\\?\\C:\\Game");
  }
  // Below a root, two leading separators name no share.
  EXPECT_EQ(NormalizeSubPath(L"//bundles///patch.bundle"), L"bundles\\patch.bundle");
  EXPECT_EQ(NormalizeSubPath(L"///"), L"");
  EXPECT_TRUE(IsNetworkPath(L"//server/share"));
  EXPECT_FALSE(IsNetworkPath(L"\\\\\\server"));
  EXPECT_FALSE(IsNetworkPath(L"\\\\"));
  EXPECT_FALSE(IsNetworkPath(L"C:\\Game"));
}

TEST(NormalizePath, EmptyAndSeparatorOnlyInputs) {
  for (bool t : {false, true}) {
    for (bool l : {false, true}) EXPECT_EQ(NormalizePath(L"", t, l), L"");
  }
  EXPECT_EQ(NormalizePath(L"///", false, false), L"");
  EXPECT_EQ(NormalizePath(L"///", true, false), L"");
  EXPECT_EQ(NormalizePath(L"///", true, true), L"\\");
  EXPECT_EQ(NormalizePath(L"///", false, true), L"");
}

TEST(PathParts, SplitAtTheLaterOfEitherSeparator) {
  EXPECT_EQ(DirectoryPart(L"D:\\Games\\X/data/file.bin"), L"D:\\Games\\X/data/");
  EXPECT_EQ(FileNamePart(L"D:\\Games\\X/data/file.bin"), L"file.bin");
  EXPECT_EQ(DirectoryPart(L"a/b\\c"), L"a/b\\");
  EXPECT_EQ(FileNamePart(L"a\\b/c"), L"c");
  EXPECT_EQ(DirectoryPart(L"\\bundles\\patch.bundle"), L"\\bundles\\");
  EXPECT_EQ(FileNamePart(L"dir\\"), L"");
  EXPECT_EQ(FileNamePart(L"plain.txt"), L"plain.txt");
  EXPECT_EQ(DirectoryPart(L"plain.txt"), L"");
}

TEST(LongPathForm, DrivesAndSharesGainTheirPrefixOtherPathsNone) {
  EXPECT_EQ(LongPathForm(L"C:\\Games\\X"), L"\\\\?\\C:\\Games\\X");
  EXPECT_EQ(LongPathForm(L"C:\\"), L"\\\\?\\C:\\");
  // A share keeps its server and share names after "UNC", never "\\?\server".
  EXPECT_EQ(LongPathForm(L"\\\\server\\share\\X"), L"\\\\?\\UNC\\server\\share\\X");
  EXPECT_EQ(LongPathForm(L"\\\\?\\UNC\\server\\share\\X"), L"\\\\?\\UNC\\server\\share\\X");
  for (const wchar_t* other : {L"Games\\X", L"\\Games\\X", L"\\\\server", L"\\\\.\\C:\\X", L""}) {
    EXPECT_EQ(LongPathForm(other), L"") << other;
  }
  EXPECT_EQ(VolumeEnd(L"\\\\?\\C:\\Games"), 6u);
  EXPECT_EQ(VolumeEnd(L"\\\\?\\UNC\\server\\share\\X"), 20u);
  EXPECT_EQ(VolumeEnd(L"\\\\server\\share"), 14u);
  EXPECT_EQ(VolumeEnd(L"\\\\server"), std::wstring::npos);
}

}  // namespace
}  // namespace vard
