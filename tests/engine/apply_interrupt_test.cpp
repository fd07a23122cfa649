// A run killed at any moment never loses or half-writes a game file, and the next run
// finishes with the same bytes as an uninterrupted one and no staging file left. The run
// (apply_run.h: added over an existing file, added, updated by diff and whole, compressed
// and stored, deleted) is played by engine_apply_child.exe, built beside this test, which
// kills itself just before its N-th file-system call: 52 such moments spread from the first
// call to the last.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/apply_run.h"
#include "manifest/data_resource.h"
#include "os/files.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::ReadFileBytes;
using test::RunFile;
using test::TempDir;
using test::WriteFileBytes;

std::string ResourceBytes(std::uint16_t id) {
  const ResourceView view = LoadDataResource(id);
  return std::string(reinterpret_cast<const char*>(view.bytes), view.length);
}

std::wstring ChildPath() {
  const std::wstring self = test::OwnExecutable();
  return self.substr(0, self.find_last_of(L'\\') + 1) + L"engine_apply_child.exe";
}

// Runs the child on the folder with the given second argument (none when empty) and
// returns its exit code.
DWORD RunChild(const std::wstring& folder, const std::wstring& argument) {
  DWORD pid = 0;
  HANDLE process =
      test::StartChild(ChildPath(), L"\"" + folder + L"\" " + argument, pid);
  if (process == nullptr) return 0xFFFFFFFF;
  const DWORD code = test::WaitForExit(process);
  CloseHandle(process);
  return code;
}

// Every file below folder, by path relative to it, with its bytes.
void ListTree(const std::wstring& folder, const std::wstring& prefix,
              std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListTree(folder + L"\\" + name, prefix + name + L"\\", out);
    } else {
      out[prefix + name] = ReadFileBytes(folder + L"\\" + name);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

class ApplyInterrupted : public ::testing::Test {
 protected:
  void Install(const std::wstring& folder) {
    TempDir::RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const RunFile& f : files_) {
      if (f.before_present) WriteFileBytes(folder + L"\\" + f.path, f.before);
    }
  }
  std::map<std::wstring, std::string> Expected() const {
    std::map<std::wstring, std::string> tree;
    for (const RunFile& f : files_) {
      if (f.after_present) tree[f.path] = f.after;
    }
    return tree;
  }

  const std::string old_ = ResourceBytes(1001);
  const std::string new_ = ResourceBytes(1002);
  const std::vector<RunFile> files_ = test::RunFiles(old_, new_);
};

TEST_F(ApplyInterrupted, EveryKillLeavesOldOrNewFilesAndTheNextRunFinishes) {
  TempDir dir;
  const std::wstring game = dir.Path(L"game");
  Install(game);
  const DWORD counted = RunChild(game, L"count");
  ASSERT_GT(counted, 1000u) << "the whole run failed: " << counted;
  const long calls = static_cast<long>(counted - 1000);
  std::map<std::wstring, std::string> tree;
  ListTree(game, L"", tree);
  ASSERT_TRUE(tree == Expected());
  // 52 moments spread evenly from the first call to the last.
  constexpr long kMoments = 52;
  ASSERT_GE(calls, kMoments);
  std::printf("one run makes %ld file-system calls; killed before %ld of them\n", calls, kMoments);

  for (long i = 0; i < kMoments; ++i) {
    const long at = 1 + i * (calls - 1) / (kMoments - 1);
    SCOPED_TRACE("killed before call " + std::to_string(at));
    Install(game);
    ASSERT_EQ(RunChild(game, std::to_wstring(at)), 99u);
    for (const RunFile& f : files_) {
      const std::wstring path = game + L"\\" + f.path;
      const bool present = PathExists(path);
      const std::string now = present ? ReadFileBytes(path) : std::string();
      const bool old_state = present == f.before_present && (!present || now == f.before);
      const bool new_state = present == f.after_present && (!present || now == f.after);
      EXPECT_TRUE(old_state || new_state)
          << std::string(f.path.begin(), f.path.end()) << ": "
          << (present ? std::to_string(now.size()) + " bytes" : "missing");
    }
    // The next run finishes and leaves exactly the new tree, no staging file either. Every
    // third state is followed through (each costs a Wine process start), and the last.
    if (i % 3 != 0 && i != kMoments - 1) continue;
    ASSERT_EQ(RunChild(game, L""), 0u);
    tree.clear();
    ListTree(game, L"", tree);
    EXPECT_TRUE(tree == Expected()) << tree.size() << " files";
    if (HasFatalFailure() || HasFailure()) break;
  }
}

// A drive that fills up in the middle of a write: the run ends with a disk error, the file
// being written keeps its old content, no staging file is left, and once space is freed
// the next run finishes byte for byte. Needs a real size-limited drive, which
// disk_full_test.py mounts (a tmpfs as root) and names in VARD_SMALL_DRIVE ("Q:").
TEST_F(ApplyInterrupted, AFullDiskMidWriteLosesNothingAndTheRunAfterFreeingFinishes) {
  wchar_t drive[8] = {};
  if (GetEnvironmentVariableW(L"VARD_SMALL_DRIVE", drive, 8) == 0) {
    GTEST_SKIP() << "no size-limited drive (run through disk_full_test.py)";
  }
  const std::wstring game = std::wstring(drive) + L"\\game";
  const std::wstring filler = std::wstring(drive) + L"\\filler.bin";
  const std::uint64_t n = new_.size();
  const std::uint64_t z = ResourceBytes(1005).size();  // the compressed new file
  // Free space left once the tree is installed, and the file whose write then fails
  // about half-way: an added file written over the file that bears its name, the first
  // file rebuilt from a diff, and the first whole file inflated.
  struct Level { std::uint64_t free; const wchar_t* failing; };
  for (const Level level : {Level{n / 2, L"data\\present.bin"},
                            Level{n + n / 2, L"data\\file0.bin"},
                            Level{2 * n + z / 2, L"data\\file2.bin"}}) {
    SCOPED_TRACE(std::string("writing ") + std::string(level.failing, level.failing + wcslen(level.failing)));
    DeleteFileW(filler.c_str());
    Install(game);
    ULARGE_INTEGER available{};
    ASSERT_TRUE(GetDiskFreeSpaceExW((std::wstring(drive) + L"\\").c_str(), &available, nullptr, nullptr));
    ASSERT_GT(available.QuadPart, level.free + 4096) << "the drive is too small";
    WriteFileBytes(filler, std::string(static_cast<std::size_t>(available.QuadPart - level.free), 'f'));

    EXPECT_EQ(RunChild(game, L""), 11u);  // 10 + DiskError: the run ends with 215
    std::map<std::wstring, std::string> tree;
    ListTree(game, L"", tree);
    bool reached = false;  // files before the failing one are new, it and those after old
    for (const RunFile& f : files_) {
      const std::wstring path = f.path;
      reached = reached || path == level.failing;
      const bool present = reached ? f.before_present : f.after_present;
      const std::string& content = reached ? f.before : f.after;
      EXPECT_EQ(tree.count(path), present ? 1u : 0u) << std::string(path.begin(), path.end());
      if (present && tree.count(path)) {
        EXPECT_TRUE(tree[path] == content) << std::string(path.begin(), path.end());
      }
      tree.erase(path);
    }
    EXPECT_TRUE(tree.empty()) << "left behind: " << std::string(tree.begin()->first.begin(), tree.begin()->first.end());

    ASSERT_TRUE(DeleteFileW(filler.c_str()));
    EXPECT_EQ(RunChild(game, L""), 0u);
    tree.clear();
    ListTree(game, L"", tree);
    EXPECT_TRUE(tree == Expected());
  }
  DeleteFileW(filler.c_str());
  TempDir::RemoveTree(game);
}

}  // namespace
}  // namespace vard
