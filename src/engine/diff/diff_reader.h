// The input side of diff decoding: a cursor over a byte source that keeps one window
// (a page) of it in memory, so that the decoder reads single bytes cheaply and copies
// whole runs out of the window. Subclasses say how a page is loaded (a file read through
// a 1 MiB page buffer, or a block of memory that is its own single page).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vard::diff {

class DiffReader {
 public:
  virtual ~DiffReader() = default;

  std::uint64_t size() const { return size_; }
  std::uint64_t position() const { return position_; }
  // Any value is accepted; reading from at or past the size yields the end of data.
  void set_position(std::uint64_t position) { position_ = position; }

  // The byte at the position (0 to 255), advancing by one; -1 at or past the end, the
  // position unchanged. A page that cannot be loaded raises std::runtime_error
  // "Cannot load page".
  int NextByte() {
    if (position_ >= size_) return -1;
    if (position_ - page_start_ >= page_length_) LoadPageOf(position_);
    return page_[position_++ - page_start_];
  }

  // Points data at the bytes from the position on that lie in one loaded page, at most
  // max of them, and returns their count: 0 only at the end or when max is 0. Does not
  // advance; call Skip. Raises like NextByte.
  std::size_t Peek(const unsigned char*& data, std::uint64_t max) {
    if (position_ >= size_ || max == 0) return 0;
    if (position_ - page_start_ >= page_length_) LoadPageOf(position_);
    const std::size_t offset = static_cast<std::size_t>(position_ - page_start_);
    std::uint64_t count = page_length_ - offset;
    if (count > max) count = max;
    data = page_ + offset;
    return static_cast<std::size_t>(count);
  }
  void Skip(std::uint64_t count) { position_ += count; }

 protected:
  // Makes page_, page_start_ and page_length_ describe a page that holds offset
  // (offset < size_), or raises std::runtime_error("Cannot load page").
  virtual void LoadPageOf(std::uint64_t offset) = 0;

  // Drops the loaded page so that the next read loads again.
  void ForgetPage() {
    page_ = nullptr;
    page_start_ = 0;
    page_length_ = 0;
  }

  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  const unsigned char* page_ = nullptr;
  std::uint64_t page_start_ = 0;
  std::uint64_t page_length_ = 0;
};

// Raises the page failure every reader reports.
[[noreturn]] void ThrowCannotLoadPage();

// A reader over bytes already in memory (not owned): one page covering everything.
class MemoryDiffReader final : public DiffReader {
 public:
  MemoryDiffReader(const unsigned char* data, std::size_t size) : data_(data) {
    size_ = size;
  }

 protected:
  void LoadPageOf(std::uint64_t) override {
    page_ = data_;
    page_start_ = 0;
    page_length_ = size_;
  }

 private:
  const unsigned char* data_;
};

// Window bookkeeping for readers of files, in one buffer of kPageSize bytes. A read that
// lands outside the loaded window loads a new one starting at the read position (rounded
// down to kAlign) and reads only what a seek needs: kFirstRead bytes after a jump, twice
// the previous amount each time reading carries straight on past the window's end, up to
// kPageSize. So a seek costs at most kFirstRead + kAlign bytes of reading beyond what is
// then used, a run read after it at most twice its length, and sequential reading settles
// at one read per kPageSize. Subclasses read the bytes.
class PagedFileReaderBase : public DiffReader {
 public:
  static constexpr std::size_t kPageSize = std::size_t{1} << 20;
  static constexpr std::size_t kFirstRead = std::size_t{64} << 10;
  static constexpr std::size_t kAlign = std::size_t{4} << 10;

 protected:
  // Allocates the page buffer if there is none; false when allocation fails.
  bool EnsureBuffer();
  void ReleaseBuffer();
  // Starts over on a source of the given size: position 0, no page loaded.
  void Reset(std::uint64_t size);
  // Reads exactly length bytes at offset into buffer; false on any failure or short read.
  virtual bool ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) = 0;
  // Loads the window at offset 0 eagerly (open does so); false on failure.
  bool LoadFirstPage();

  void LoadPageOf(std::uint64_t offset) override;

 private:
  unsigned char* buffer_ = nullptr;
  std::size_t read_length_ = 0;  // length of the last read, for the doubling
};

}  // namespace vard::diff
