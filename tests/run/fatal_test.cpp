// The fatal path seen from outside: run the probe, read its box, press OK, and check that
// the process ends with -1.
#include <gtest/gtest.h>

#include <string>

#include "test_support/child_process.h"
#include "test_support/message_boxes.h"

namespace vard {
namespace {

std::wstring ProbePath(const wchar_t* name = L"fatal_probe.exe") {
  const std::wstring self = test::OwnExecutable();
  return self.substr(0, self.find_last_of(L'\\') + 1) + name;
}

struct Outcome {
  test::SeenBox box;
  int boxes = 0;
  DWORD exit_code = 0;
};

Outcome RunProbe(const std::wstring& mode, const wchar_t* probe_name = L"fatal_probe.exe") {
  Outcome outcome;
  DWORD pid = 0;
  HANDLE probe = test::StartChild(ProbePath(probe_name), mode, pid);
  EXPECT_NE(probe, nullptr);
  if (probe == nullptr) return outcome;
  outcome.box = test::WaitForBox(pid);
  Sleep(500);  // a second faulting thread would have its box up by now
  outcome.boxes = test::CountBoxesOf(pid);
  if (outcome.box.window != nullptr) test::PressButton(outcome.box, IDOK);
  outcome.exit_code = test::WaitForExit(probe, 20000);
  if (outcome.exit_code == STILL_ACTIVE) TerminateProcess(probe, 99);
  CloseHandle(probe);
  return outcome;
}

void ExpectFatalBox(const Outcome& outcome) {
  ASSERT_NE(outcome.box.window, nullptr) << "no box appeared";
  EXPECT_EQ(outcome.box.caption, L"Error!");
  EXPECT_EQ(outcome.box.text, L"An internal error has occured.");
  EXPECT_EQ(outcome.boxes, 1);
  EXPECT_EQ(outcome.exit_code, 0xFFFFFFFFu);
}

TEST(FatalPath, AnExceptionLeavingTheRunShowsTheBoxAndExitsWithMinusOne) {
  const Outcome outcome = RunProbe(L"run");
  ExpectFatalBox(outcome);
  // The probe carries no skin images, so the run fails in the splash before any text was
  // looked up; the hook then cannot choose a language from the broken manifest and the box
  // keeps a label. (Whole runs with the skins are checked by the end-to-end scenarios.)
  EXPECT_FALSE(outcome.box.buttons.at(IDOK).empty());
}

TEST(FatalPath, FaultsAndExceptionsOnOtherThreadsTakeTheSamePath) {
  for (const wchar_t* mode : {L"fault-thread", L"throw-thread"}) {
    SCOPED_TRACE(std::string(mode, mode + wcslen(mode)));
    const Outcome outcome = RunProbe(mode);
    ExpectFatalBox(outcome);
    // The language cannot be chosen from this probe's broken manifest: the box keeps the
    // system's label instead of failing inside the hook.
    EXPECT_FALSE(outcome.box.buttons.at(IDOK).empty());
  }
}

// The run goes on while the progress window's thread fails; it must not wait for StopUi
// (after its next box, perhaps "Success!") to end on the fatal path.
TEST(FatalPath, TheWindowThreadFailingWhileTheWindowIsUpEndsTheProcessAtOnce) {
  ExpectFatalBox(RunProbe(L"window-fails", L"fatal_probe_skinned.exe"));
}

TEST(FatalPath, TwoFaultingThreadsShowOneBox) {
  ExpectFatalBox(RunProbe(L"two-faults"));
}

}  // namespace
}  // namespace vard
