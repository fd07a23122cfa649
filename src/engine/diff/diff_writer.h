// The output side of diff decoding and of every other result the patcher writes: bytes
// gathered in a 1 MiB buffer and handed on a block at a time, advancing an optional
// progress node to the total handed on and keeping the CRC-32 of everything handed on, so
// that a result can be checked against its manifest entry before it replaces anything.
// Subclasses say where the blocks go (a file, or a vector in memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vard {
class ProgressNode;
}

namespace vard::diff {

class DiffWriter {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  virtual ~DiffWriter();
  DiffWriter(const DiffWriter&) = delete;
  DiffWriter& operator=(const DiffWriter&) = delete;

  // Appends one byte; false when there is no buffer or a full buffer cannot be flushed.
  bool Put(unsigned char byte) {
    if (count_ == capacity_ && !Flush()) return false;
    buffer_[count_++] = byte;
    return true;
  }
  // Appends count bytes; false when a flush fails.
  bool Write(const unsigned char* data, std::uint64_t count);
  // Hands the buffered bytes on; true when there were none. After each block the node
  // (if any) is advanced to the total handed on.
  bool Flush();

  // Refuses to hand on anything past limit bytes in total: the write or flush that would
  // fails, and nothing of that block is handed on. No limit unless set.
  void set_limit(std::uint64_t limit) { limit_ = limit; }

  // Bytes handed on so far (not counting those still buffered).
  std::uint64_t written() const { return written_; }
  // CRC-32 of the bytes handed on so far (zlib's, started from 0; 0 for none).
  std::uint32_t crc() const { return crc_; }

 protected:
  DiffWriter() = default;
  // Allocates the buffer if there is none and starts counting from zero with this node.
  bool Start(ProgressNode* node);
  void ReleaseBuffer();
  bool HasBuffer() const { return buffer_ != nullptr; }
  // Delivers a block in full; false on failure.
  virtual bool Deliver(const unsigned char* data, std::size_t count) = 0;

 private:
  bool Hand(const unsigned char* data, std::size_t count);

  unsigned char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t limit_ = ~std::uint64_t{0};
  std::uint32_t crc_ = 0;
  ProgressNode* node_ = nullptr;
};

// A writer whose blocks are appended to a vector: for the builder's self-check and tests.
class VectorDiffWriter final : public DiffWriter {
 public:
  VectorDiffWriter() { Start(nullptr); }
  ~VectorDiffWriter() override { ReleaseBuffer(); }
  // Everything put so far, after a Flush.
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 protected:
  bool Deliver(const unsigned char* data, std::size_t count) override {
    bytes_.insert(bytes_.end(), data, data + count);
    return true;
  }

 private:
  std::vector<unsigned char> bytes_;
};

}  // namespace vard::diff
