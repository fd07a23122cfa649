#include "engine/verify.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::TempDir;
using test::WriteFileBytes;

// Creates (or resizes) a file of the given size without writing its bytes.
void MakeFileOfSize(const std::wstring& path, std::int64_t size) {
  WriteFileBytes(path, "");  // creates the missing folders
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = size;
  ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
}

std::vector<std::uint64_t> ChildWeights(const ProgressNode* node) {
  std::vector<std::uint64_t> weights;
  for (const ProgressNode* child : node->children) weights.push_back(child->weight);
  return weights;
}

class VerifyEntryTest : public ::testing::Test {
 protected:
  FileEntry Entry(EntryKind kind, const wchar_t* name) {
    FileEntry e;
    e.kind = kind;
    e.install_root = dir.path() + L"\\";
    e.rel_dir = L"\\bin\\";
    e.file_name = name;
    if (kind != EntryKind::Deleted) {
      e.crc = "02af3115";
      e.size = "12363392";
      e.id = 5008;
    }
    return e;
  }
  // The shipped executable's update: diff and compressed.
  FileEntry Executable() {
    FileEntry e = Entry(EntryKind::Updated, L"game.exe");
    e.crc_org = "cb04501d";
    e.size_org = "12362880";
    e.comp = true;
    e.comp_size = "871284";
    e.diff = true;
    e.diff_size = "2060418";
    return e;
  }
  std::wstring Target(const wchar_t* name) { return dir.Path(L"bin\\") + name; }

  TempDir dir;
  ProgressNode root{0, nullptr};
};

TEST_F(VerifyEntryTest, DeletedEntriesPassWhateverTheFileAndGetOnlyTheirLabel) {
  FileEntry missing = Entry(EntryKind::Deleted, L"gone.txt");
  EXPECT_TRUE(VerifyEntry(missing, root));
  WriteFileBytes(Target(L"here.txt"), "abc");
  FileEntry present = Entry(EntryKind::Deleted, L"here.txt");
  EXPECT_TRUE(VerifyEntry(present, root));

  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[0], missing.entry_node);
  ASSERT_NE(present.entry_node, nullptr);
  EXPECT_EQ(missing.entry_node->label, L"bin\\gone.txt");
  EXPECT_EQ(missing.entry_node->weight, 0u);
  EXPECT_TRUE(present.entry_node->children.empty());
  EXPECT_EQ(present.payload_node, nullptr);
}

TEST_F(VerifyEntryTest, AddedEntryWithoutFileHasNoChecksumNode) {
  FileEntry e = Entry(EntryKind::Added, L"new.bin");
  e.comp = true;
  e.comp_size = "44000";
  EXPECT_TRUE(VerifyEntry(e, root));
  EXPECT_EQ(e.checksum_node, nullptr);
  ASSERT_EQ(ChildWeights(e.entry_node), (std::vector<std::uint64_t>{12363392, 44000}));
  EXPECT_EQ(e.entry_node->children[0], e.payload_node);
  EXPECT_EQ(e.entry_node->children[1], e.copy_node);
}

TEST_F(VerifyEntryTest, AddedEntryOverAnExistingFileChecksumsItFirst) {
  WriteFileBytes(Target(L"old.bin"), "12345");
  FileEntry e = Entry(EntryKind::Added, L"old.bin");
  EXPECT_TRUE(VerifyEntry(e, root));
  ASSERT_NE(e.checksum_node, nullptr);
  ASSERT_EQ(e.entry_node->children.size(), 2u);
  EXPECT_EQ(e.entry_node->children.front(), e.checksum_node);
  EXPECT_EQ(ChildWeights(e.entry_node), (std::vector<std::uint64_t>{5, 12363392}));
  EXPECT_EQ(e.copy_node, nullptr);

  WriteFileBytes(Target(L"empty.bin"), "");
  FileEntry empty = Entry(EntryKind::Added, L"empty.bin");
  EXPECT_TRUE(VerifyEntry(empty, root));
  ASSERT_NE(empty.checksum_node, nullptr);
  EXPECT_EQ(empty.checksum_node->weight, 0u);
}

TEST_F(VerifyEntryTest, AddedEntryOverAFileHeldWithoutReadSharingFails) {
  WriteFileBytes(Target(L"held.bin"), "12345");
  HANDLE held = CreateFileW(Target(L"held.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  FileEntry e = Entry(EntryKind::Added, L"held.bin");
  EXPECT_FALSE(VerifyEntry(e, root));
  CloseHandle(held);
  // The labelled node was made before the test failed.
  EXPECT_NE(e.entry_node, nullptr);
}

TEST_F(VerifyEntryTest, UpdatedExecutableAtItsOldSize) {
  MakeFileOfSize(Target(L"game.exe"), 12362880);
  FileEntry e = Executable();
  EXPECT_TRUE(VerifyEntry(e, root));
  EXPECT_EQ(e.checksum_node, nullptr);
  ASSERT_EQ(ChildWeights(e.entry_node),
            (std::vector<std::uint64_t>{2060418, 871284, 12363392}));
  EXPECT_EQ(e.entry_node->children[0], e.payload_node);
  EXPECT_EQ(e.entry_node->children[1], e.copy_node);
  EXPECT_EQ(e.entry_node->children[2], e.diff_node);
  EXPECT_EQ(e.entry_node->label, L"bin\\game.exe");
}

TEST_F(VerifyEntryTest, UpdatedExecutableAtItsNewSizeGetsAChecksumNodeFirst) {
  MakeFileOfSize(Target(L"game.exe"), 12363392);
  FileEntry e = Executable();
  EXPECT_TRUE(VerifyEntry(e, root));
  ASSERT_EQ(ChildWeights(e.entry_node),
            (std::vector<std::uint64_t>{12363392, 2060418, 871284, 12363392}));
  EXPECT_EQ(e.entry_node->children[0], e.checksum_node);
}

TEST_F(VerifyEntryTest, UpdatedEntryOffBothSizesMissingOrUnreadableFails) {
  for (std::int64_t size : {12362879LL, 12362881LL, 12363391LL, 12363393LL, 0LL}) {
    MakeFileOfSize(Target(L"game.exe"), size);
    FileEntry e = Executable();
    EXPECT_FALSE(VerifyEntry(e, root)) << size;
    EXPECT_EQ(e.payload_node, nullptr);
  }
  FileEntry missing = Executable();
  missing.file_name = L"missing.exe";
  EXPECT_FALSE(VerifyEntry(missing, root));

  MakeFileOfSize(Target(L"game.exe"), 12362880);
  HANDLE held = CreateFileW(Target(L"game.exe").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  FileEntry locked = Executable();
  EXPECT_FALSE(VerifyEntry(locked, root));
  CloseHandle(held);
  FileEntry released = Executable();
  EXPECT_TRUE(VerifyEntry(released, root));
}

TEST_F(VerifyEntryTest, UpdatedEntryWithoutDiff) {
  WriteFileBytes(Target(L"data.pak"), "old!");
  FileEntry e = Entry(EntryKind::Updated, L"data.pak");
  e.size_org = "4";
  e.size = "6";
  EXPECT_TRUE(VerifyEntry(e, root));
  EXPECT_EQ(ChildWeights(e.entry_node), (std::vector<std::uint64_t>{6}));
  EXPECT_EQ(e.diff_node, nullptr);

  FileEntry compressed = Entry(EntryKind::Updated, L"data.pak");
  compressed.size_org = "4";
  compressed.size = "6";
  compressed.comp = true;
  compressed.comp_size = "3";
  EXPECT_TRUE(VerifyEntry(compressed, root));
  EXPECT_EQ(ChildWeights(compressed.entry_node), (std::vector<std::uint64_t>{6, 3}));
}

TEST_F(VerifyEntryTest, SizeTextsWithoutDigitsReadAsZero) {
  auto verify_at = [&](const char* bytes) {
    WriteFileBytes(Target(L"odd.bin"), bytes);
    FileEntry e = Entry(EntryKind::Updated, L"odd.bin");
    e.size_org = "unknown";
    e.size = "3";
    return VerifyEntry(e, root);
  };
  EXPECT_TRUE(verify_at(""));     // at the old size, read as 0
  EXPECT_TRUE(verify_at("abc"));  // at the new size
  EXPECT_FALSE(verify_at("ab"));
}

TEST_F(VerifyEntryTest, ManifestNumbersAreWeightsUnchangedAbove4GiB) {
  FileEntry e = Entry(EntryKind::Added, L"huge.bin");
  e.size = "6000000000";
  EXPECT_TRUE(VerifyEntry(e, root));
  ASSERT_NE(e.payload_node, nullptr);
  EXPECT_EQ(e.payload_node->weight, 6000000000ull);
}

}  // namespace
}  // namespace vard
