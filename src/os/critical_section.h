// A Win32 critical section owned for its whole life by one object, and its scoped entry.
// The process-wide locks are static objects of this type, created during static
// initialisation with a spin count and deleted at normal exit.
#pragma once

#include <windows.h>

namespace vard {

class CriticalSection {
 public:
  explicit CriticalSection(DWORD spin_count) {
    InitializeCriticalSectionAndSpinCount(&section_, spin_count);
  }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }
  CRITICAL_SECTION* native() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};

class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionGuard() { section_.Leave(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace vard
