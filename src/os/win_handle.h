// Move-only owners of Win32 handles: each kind is closed exactly once, by its destructor.
#pragma once

#include <windows.h>

#include <utility>

namespace vard {

template <typename Traits>
class UniqueHandle {
 public:
  using Native = typename Traits::Native;
  UniqueHandle() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueHandle(Native value) noexcept : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Native get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }
  Native release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void reset(Native value = Traits::Invalid()) noexcept {
    const Native old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  Native value_;
};

struct FileHandleTraits {
  using Native = HANDLE;
  static Native Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Native h) noexcept { CloseHandle(h); }
};
// Handles of kernel objects whose failure value is NULL (mutexes, events, threads).
struct KernelHandleTraits {
  using Native = HANDLE;
  static Native Invalid() noexcept { return nullptr; }
  static void Close(Native h) noexcept { CloseHandle(h); }
};
struct RegKeyTraits {
  using Native = HKEY;
  static Native Invalid() noexcept { return nullptr; }
  static void Close(Native h) noexcept { RegCloseKey(h); }
};
struct FindHandleTraits {
  using Native = HANDLE;
  static Native Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Native h) noexcept { FindClose(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace vard
