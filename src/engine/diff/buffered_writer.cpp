#include "engine/diff/buffered_writer.h"

#include <windows.h>

namespace vard {

bool BufferedWriter::Open(const std::wstring& path, ProgressNode* node) {
  Close();
  if (!Start(node)) return false;
  file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file_);
}

bool BufferedWriter::Close() {
  const bool ok = !file_ || !HasBuffer() || Flush();
  file_.reset();
  ReleaseBuffer();
  return ok;
}

bool BufferedWriter::Deliver(const unsigned char* data, std::size_t count) {
  if (!file_) return false;
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(file_.get(), data, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return false;
    }
    data += written;
    count -= written;
  }
  return true;
}

}  // namespace vard
