#include "engine/diff/file_streams.h"

#include <system_error>

namespace vard::diff {

bool FileDiffReader::Open(const std::filesystem::path& path) {
  file_ = std::ifstream();
  if (!EnsureBuffer()) return false;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  file_.open(path, std::ios::binary);
  if (!file_) return false;
  Reset(size);
  return LoadFirstPage();
}

bool FileDiffReader::ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) {
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(length));
  return file_.good() && static_cast<std::size_t>(file_.gcount()) == length;
}

FileDiffWriter::~FileDiffWriter() { Close(); }

bool FileDiffWriter::Open(const std::filesystem::path& path, ProgressNode* node) {
  Close();
  std::error_code error;
  if (std::filesystem::exists(path, error) || error) return false;
  if (!Start(node)) return false;
  file_.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
  return static_cast<bool>(file_);
}

bool FileDiffWriter::Close() {
  if (!file_.is_open()) return true;
  bool ok = Flush();
  file_.close();
  ok = ok && !file_.fail();
  ReleaseBuffer();
  return ok;
}

bool FileDiffWriter::Deliver(const unsigned char* data, std::size_t count) {
  if (!file_.is_open()) return false;
  file_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
  return static_cast<bool>(file_);
}

}  // namespace vard::diff
