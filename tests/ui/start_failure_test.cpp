// Window start-up when the skin images are missing (this executable carries none): the
// failure reaches the caller as the exception it is, and nothing waits forever.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "model/ui_state.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

struct Call {
  void (*fn)();
  std::string message = "no error";
};

unsigned __stdcall RunCall(void* p) {
  auto* call = static_cast<Call*>(p);
  try {
    call->fn();
  } catch (const std::exception& e) {
    call->message = e.what();
  }
  return 0;
}

// Runs fn on another thread and gives its exception message, or "timeout" when it has
// not finished within 20 seconds.
std::string MessageWithin20s(void (*fn)()) {
  Call call{fn};
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunCall, &call, 0, nullptr));
  if (WaitForSingleObject(thread, 20000) != WAIT_OBJECT_0) return "timeout";
  CloseHandle(thread);
  return call.message;
}

TEST(StartFailure, MissingSkinsRaiseInsteadOfHanging) {
  EXPECT_EQ(MessageWithin20s(StartUi), "Cannot load internal resource");
  EXPECT_EQ(CurrentProgressWindowHandle(), nullptr);
  EXPECT_EQ(CurrentProgressWindow(), nullptr);
  // No UI thread is running: stopping only sets the closing state.
  EXPECT_EQ(MessageWithin20s(StopUi), "no error");
  UiSnapshot snapshot;
  ASSERT_TRUE(TakeSnapshotIfDirty(snapshot));
  EXPECT_FLOAT_EQ(snapshot.total_progress, 1.0f);
  // A second start fails the same way (the events were closed and made anew).
  EXPECT_EQ(MessageWithin20s(StartUi), "Cannot load internal resource");
  EXPECT_EQ(MessageWithin20s(ShowSplash), "Cannot load internal resource");
}

}  // namespace
}  // namespace vard
