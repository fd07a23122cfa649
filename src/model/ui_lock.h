// The UI lock: one process-wide lock guarding the UI state, the progress window's images
// and the current progress window. The portable core only sees this interface; on Windows
// the platform layer installs a critical section (spin count 4000) during static
// initialisation, natively a std::mutex serves.
#pragma once

namespace vard {

class UiLockImpl {
 public:
  virtual ~UiLockImpl() = default;
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

// Replaces the lock implementation. Only valid before a second thread exists (static
// initialisation or start of a test); the object must outlive every use.
void InstallUiLock(UiLockImpl* impl);

void EnterUiLock();
void LeaveUiLock();

class UiLockGuard {
 public:
  UiLockGuard() { EnterUiLock(); }
  ~UiLockGuard() { LeaveUiLock(); }
  UiLockGuard(const UiLockGuard&) = delete;
  UiLockGuard& operator=(const UiLockGuard&) = delete;
};

}  // namespace vard
