// The old file and the diff as the patcher reads them while applying a diff: a Win32
// file read through one 1 MiB page buffer, so that seeks within the page cost nothing
// and a file of any size is read in fixed memory. One reader belongs to one ApplyDiff.
#pragma once

#include <string>

#include "engine/diff/diff_reader.h"
#include "os/win_handle.h"

namespace vard {

class PagedReader final : public diff::PagedFileReaderBase {
 public:
  ~PagedReader() override { Close(); }
  // Opens the file for reading (others may read too), takes its 64-bit size and loads
  // page 0; false on failure, with nothing left open.
  bool Open(const std::wstring& path);
  // Releases the handle and the page buffer.
  void Close();

 protected:
  bool ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) override;

 private:
  FileHandle file_;
};

}  // namespace vard
