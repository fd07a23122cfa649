// Diff reader and writer over ordinary files through the C++ library: what the native
// tools (mkpatch's self-check, tests, benchmarks) use where the patcher uses its Win32
// PagedReader and BufferedWriter. Same page and buffer sizes, same 64-bit positions.
#pragma once

#include <filesystem>
#include <fstream>

#include "engine/diff/diff_reader.h"
#include "engine/diff/diff_writer.h"

namespace vard::diff {

class FileDiffReader final : public PagedFileReaderBase {
 public:
  ~FileDiffReader() override { ReleaseBuffer(); }
  // Opens the file and loads its first page; false on failure.
  bool Open(const std::filesystem::path& path);

 protected:
  bool ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) override;

 private:
  std::ifstream file_;
};

class FileDiffWriter final : public DiffWriter {
 public:
  ~FileDiffWriter() override;
  // Creates the file, which must not exist yet; false on failure.
  bool Open(const std::filesystem::path& path, ProgressNode* node);
  // Flushes and closes; false when the flush or the close fails.
  bool Close();

 protected:
  bool Deliver(const unsigned char* data, std::size_t count) override;

 private:
  std::ofstream file_;
};

}  // namespace vard::diff
