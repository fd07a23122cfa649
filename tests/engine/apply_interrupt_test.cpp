// A run killed at arbitrary moments never loses or half-writes a game file, and the next
// run finishes with the same bytes as an uninterrupted one and no staging file left.
// The run is played by apply_child.exe, built beside this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "manifest/data_resource.h"
#include "os/files.h"
#include "test_support/temp_dir.h"

namespace vard {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string Resource(std::uint16_t id) {
  const ResourceView view = LoadDataResource(id);
  return std::string(reinterpret_cast<const char*>(view.bytes), view.length);
}

std::wstring ChildPath() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"engine_apply_child.exe";
}

// Starts the child on the folder; kills it after kill_after_ms unless that is negative.
// Returns the exit code, or -1 when it was killed.
int RunChild(const std::wstring& folder, int kill_after_ms) {
  std::wstring command = L"\"" + ChildPath() + L"\" \"" + folder + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -2;
  }
  CloseHandle(process.hThread);
  const DWORD wait = kill_after_ms < 0 ? INFINITE : static_cast<DWORD>(kill_after_ms);
  int code = -1;
  if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    code = static_cast<int>(exit_code);
  }
  CloseHandle(process.hProcess);
  return code;
}

bool HasStagingFile(const std::wstring& folder) {
  for (const wchar_t* name : {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"}) {
    if (PathExists(folder + L"\\" + name)) return true;
  }
  return false;
}

TEST(ApplyInterrupted, KilledRunsLoseNothingAndTheNextRunFinishes) {
  const std::string old_bytes = Resource(1001), new_bytes = Resource(1002);
  TempDir dir;
  for (int i = 0; i < 12; ++i) WriteFileBytes(dir.Path(L"data\\file" + std::to_wstring(i) + L".bin"), old_bytes);
  for (int i = 0; i < 3; ++i) WriteFileBytes(dir.Path(L"old\\gone" + std::to_wstring(i) + L".bin"), "x");

  // The first kill lands early; each later one a little further in. Started runs that
  // end on their own before the kill are fine too.
  int killed = 0;
  for (int delay : {150, 400, 700, 1000, 1400, 1900}) {
    const int code = RunChild(dir.path(), delay);
    if (code == -1) ++killed;
    ASSERT_TRUE(code == -1 || code == 0) << "exit code " << code;
    int updated = 0;
    for (int i = 0; i < 12; ++i) {
      const std::string now = ReadFileBytes(dir.Path(L"data\\file" + std::to_wstring(i) + L".bin"));
      EXPECT_TRUE(now == old_bytes || now == new_bytes)
          << "file" << i << " after a kill at " << delay << " ms: " << now.size() << " bytes";
      updated += now == new_bytes;
    }
    std::printf("after %d ms: %s, %d of 12 files updated\n", delay,
                code == -1 ? "killed" : "finished", updated);
  }
  EXPECT_GT(killed, 0);

  ASSERT_EQ(RunChild(dir.path(), -1), 0);
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(ReadFileBytes(dir.Path(L"data\\file" + std::to_wstring(i) + L".bin")) == new_bytes) << i;
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(ReadFileBytes(dir.Path(L"local\\french\\added" + std::to_wstring(i) + L".bin")) == new_bytes);
    EXPECT_FALSE(PathExists(dir.Path(L"old\\gone" + std::to_wstring(i) + L".bin")));
  }
  EXPECT_FALSE(HasStagingFile(dir.Path(L"data")));
  EXPECT_FALSE(HasStagingFile(dir.Path(L"local\\french")));
  // A run over the finished tree changes nothing and succeeds.
  EXPECT_EQ(RunChild(dir.path(), -1), 0);
}

}  // namespace
}  // namespace vard
