// The patcher's UI lock: a critical section with a spin count of 4000, installed during
// static initialisation before any thread but the main one exists. Compiled straight into
// the executables that need it (a static library would drop this unreferenced object).
#include "model/ui_lock.h"
#include "os/critical_section.h"

namespace vard {
namespace {

class CriticalSectionUiLock final : public UiLockImpl {
 public:
  CriticalSectionUiLock() : section_(4000) { InstallUiLock(this); }
  void Enter() override { section_.Enter(); }
  void Leave() override { section_.Leave(); }

 private:
  CriticalSection section_;
};

CriticalSectionUiLock ui_lock;

}  // namespace
}  // namespace vard
