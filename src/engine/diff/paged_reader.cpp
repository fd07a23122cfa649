#include "engine/diff/paged_reader.h"

#include <windows.h>

#include "os/files.h"

namespace vard {

bool PagedReader::Open(const std::wstring& path) {
  file_.reset();
  if (!EnsureBuffer()) return false;
  std::uint64_t size = 0;
  if (!QueryFileSize(path, size)) return false;
  file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  Reset(size);
  if (!LoadFirstPage()) {
    file_.reset();
    return false;
  }
  return true;
}

void PagedReader::Close() {
  file_.reset();
  ReleaseBuffer();
}

bool PagedReader::ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) {
  if (!file_) return false;
  // The offset goes with each read (on a handle opened for synchronous reading, ReadFile
  // reads there and waits), one call instead of a seek and a read.
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    if (!ReadFile(file_.get(), buffer + done, static_cast<DWORD>(length - done), &got, &at) ||
        got == 0) {
      file_.reset();
      return false;
    }
    done += got;
  }
  return true;
}

}  // namespace vard
