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

std::string Resource(std::uint16_t id) {
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

  const std::string old_ = Resource(1001);
  const std::string new_ = Resource(1002);
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

}  // namespace
}  // namespace vard
