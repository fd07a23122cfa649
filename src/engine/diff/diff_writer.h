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
  // Appends count bytes; false when a flush fails or the bytes would pass the limit.
  bool Write(const unsigned char* data, std::uint64_t count);
  // Hands the buffered bytes on; true when there were none. After each block the node
  // (if any) is advanced to the total handed on.
  bool Flush();

  // Rewrites each block in place before it is handed on (and counted in the CRC): offset is
  // the block's place in the output, a multiple of kBufferSize but for the last block.
  class BlockFilter {
   public:
    virtual ~BlockFilter() = default;
    virtual void Filter(unsigned char* data, std::size_t count, std::uint64_t offset) = 0;
  };
  // Not owned; null for none. Set it before the first byte.
  void set_filter(BlockFilter* filter) { filter_ = filter; }

  // Bytes handed on so far (not counting those still buffered).
  std::uint64_t written() const { return written_; }
  // CRC-32 of the bytes handed on so far (zlib's, started from 0; 0 for none).
  std::uint32_t crc() const { return crc_; }

  // The most bytes this writer takes in all (none by default): the size a manifest gives
  // the output. A Write that would pass it takes the bytes up to the limit and fails, and
  // so does the flush of a buffer filled past it by Put, so no byte beyond the limit is
  // ever handed on and a decoder writing a bomb stops at its first write past the limit.
  // Set after the writer is opened (opening clears it).
  void set_limit(std::uint64_t limit) { limit_ = limit; }
  // True once output was refused for passing the limit.
  bool over_limit() const { return over_limit_; }

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
  std::uint32_t crc_ = 0;
  ProgressNode* node_ = nullptr;
  std::uint64_t limit_ = ~std::uint64_t{0};
  bool over_limit_ = false;
  BlockFilter* filter_ = nullptr;
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
