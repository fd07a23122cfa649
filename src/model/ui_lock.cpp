#include "model/ui_lock.h"

#include <mutex>

namespace vard {
namespace {

class StdUiLock final : public UiLockImpl {
 public:
  void Enter() override { mutex_.lock(); }
  void Leave() override { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

UiLockImpl*& Current() {
  static StdUiLock fallback;
  static UiLockImpl* current = &fallback;
  return current;
}

}  // namespace

void InstallUiLock(UiLockImpl* impl) { Current() = impl; }
void EnterUiLock() { Current()->Enter(); }
void LeaveUiLock() { Current()->Leave(); }

}  // namespace vard
