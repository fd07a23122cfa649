// The patcher executable written front to back in one pass, never held in memory whole:
// pieces of bytes, whole files copied in 1 MiB pieces (the payloads, which may be
// gigabytes), zero padding. It sums the PE header checksum over everything written, the
// checksum field counted as zero, and stores it when finished, so the checksum covers the
// file as it is, overlay included.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vard::mkpatch {

class ExeWriter {
 public:
  // Creates (replaces) the file; throws std::runtime_error when it cannot. The checksum
  // field lies at checksum_offset.
  ExeWriter(std::filesystem::path path, uint64_t checksum_offset);
  ~ExeWriter();
  ExeWriter(const ExeWriter&) = delete;
  ExeWriter& operator=(const ExeWriter&) = delete;

  void Write(const uint8_t* data, size_t size);
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  void WriteZeros(uint64_t count);
  // Appends the contents of `file`, which must hold exactly `size` bytes; InputError
  // naming the file otherwise.
  void Copy(const std::filesystem::path& file, uint64_t size);
  uint64_t size() const { return size_; }
  // Stores the checksum and closes the file. Throws std::runtime_error when a write or the
  // close failed; the caller removes the file.
  void Finish();

 private:
  void Sum(const uint8_t* data, size_t size);
  void Put(const uint8_t* data, size_t size);

  std::filesystem::path path_;
  int fd_ = -1;
  uint64_t checksum_offset_;
  uint64_t size_ = 0;
  uint64_t sum_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace vard::mkpatch
