// The instance and game-running guards against names held by this test, with the
// Retry/Cancel box read and answered from a second thread. The guards keep their names
// until the process exits, so the stages run in one order inside one test each.
#include "run/guards.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_support/message_boxes.h"
#include "ui/text.h"

namespace vard {
namespace {

bool NameExists(const char* name) {
  HANDLE handle = CreateMutexA(nullptr, FALSE, name);
  const bool exists = handle != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (handle != nullptr) CloseHandle(handle);
  return exists;
}

TEST(ClaimInstance, RefusesWhileAnotherPatcherHoldsTheNameThenHoldsIt) {
  HANDLE other = CreateMutexA(nullptr, FALSE, "Global\\KORAX_Patch");
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(ClaimInstance());
  CloseHandle(other);
  EXPECT_FALSE(NameExists("Global\\KORAX_Patch"));  // the refused claim left nothing open

  EXPECT_TRUE(ClaimInstance());
  EXPECT_TRUE(NameExists("Global\\KORAX_Patch"));
}

struct BoxAnswer {
  test::SeenBox box;
  DWORD shown_after_ms = 0;
};

TEST(WaitForGameExit, AsksWhileTheGameRunsAndHoldsTheGameNamesOnceItQuit) {
  const std::wstring retry = LoadText(221);
  const std::wstring cancel = LoadText(220);
  HANDLE game = CreateMutexA(nullptr, FALSE, "Global\\KORAX_Running");
  ASSERT_NE(game, nullptr);

  // Stage 1: Retry while the game still runs brings the box back; Cancel then gives up
  // without creating the game's names.
  BoxAnswer first, second;
  std::thread player([&] {
    DWORD start = GetTickCount();
    first.box = test::WaitForBox(GetCurrentProcessId());
    first.shown_after_ms = GetTickCount() - start;
    test::PressButton(first.box, IDRETRY);
    start = GetTickCount();
    while (test::FindBoxOf(GetCurrentProcessId()) != nullptr) Sleep(20);
    second.box = test::WaitForBox(GetCurrentProcessId());
    second.shown_after_ms = GetTickCount() - start;
    test::PressButton(second.box, IDCANCEL);
  });
  const DWORD start = GetTickCount();
  EXPECT_FALSE(WaitForGameExit());
  player.join();
  EXPECT_GE(GetTickCount() - start, 4000u);
  ASSERT_NE(first.box.window, nullptr);
  EXPECT_GE(first.shown_after_ms, 1900u);  // each box follows a wait of two seconds
  EXPECT_EQ(first.box.caption, LoadText(203));
  EXPECT_EQ(first.box.text, LoadText(205));
  EXPECT_EQ(first.box.buttons.at(IDRETRY), retry);
  EXPECT_EQ(first.box.buttons.at(IDCANCEL), cancel);
  EXPECT_EQ(first.box.icon, L"error");
  ASSERT_NE(second.box.window, nullptr);
  EXPECT_GE(second.shown_after_ms, 1900u);
  EXPECT_FALSE(NameExists("Global\\KORAX"));
  EXPECT_FALSE(NameExists("Global\\KORAX DEMO"));

  // Stage 2: the game quits while the box is up; Retry finds it gone and patching goes on
  // with the game's three names held.
  int boxes = 0;
  std::thread quitter([&] {
    test::SeenBox box = test::WaitForBox(GetCurrentProcessId());
    if (box.window == nullptr) return;
    ++boxes;
    CloseHandle(game);
    test::PressButton(box, IDRETRY);
    while (test::FindBoxOf(GetCurrentProcessId()) == box.window) Sleep(20);
    // A further box would follow within two seconds; answer it so the test cannot hang.
    test::SeenBox further = test::WaitForBox(GetCurrentProcessId(), 3000);
    if (further.window != nullptr) {
      ++boxes;
      test::PressButton(further, IDCANCEL);
    }
  });
  EXPECT_TRUE(WaitForGameExit());
  quitter.join();
  EXPECT_EQ(boxes, 1);
  EXPECT_TRUE(NameExists("Global\\KORAX_Running"));
  EXPECT_TRUE(NameExists("Global\\KORAX DEMO"));
  EXPECT_TRUE(NameExists("Global\\KORAX"));
}

}  // namespace
}  // namespace vard
