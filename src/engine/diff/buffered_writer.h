// The new file as ApplyDiff writes it: a Win32 file created as new, written in 1 MiB
// blocks, each block advancing the optional progress node to the bytes written so far.
// One writer belongs to one ApplyDiff.
#pragma once

#include <string>

#include "engine/diff/diff_writer.h"
#include "os/win_handle.h"

namespace vard {

class BufferedWriter final : public diff::DiffWriter {
 public:
  ~BufferedWriter() override { Close(); }
  // Closes anything open, then creates the file without sharing; an existing file makes
  // it fail. node may be null.
  bool Open(const std::wstring& path, ProgressNode* node);
  // Flushes, then releases the handle and the buffer; false when the flush failed.
  bool Close();

 protected:
  bool Deliver(const unsigned char* data, std::size_t count) override;

 private:
  FileHandle file_;
};

}  // namespace vard
