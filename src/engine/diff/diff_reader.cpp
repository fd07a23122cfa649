#include "engine/diff/diff_reader.h"

#include <new>
#include <stdexcept>

namespace vard::diff {

void ThrowCannotLoadPage() { throw std::runtime_error("Cannot load page"); }

bool PagedFileReaderBase::EnsureBuffer() {
  if (buffer_ == nullptr) buffer_ = new (std::nothrow) unsigned char[kPageSize];
  return buffer_ != nullptr;
}

void PagedFileReaderBase::ReleaseBuffer() {
  delete[] buffer_;
  buffer_ = nullptr;
  ForgetPage();
}

void PagedFileReaderBase::Reset(std::uint64_t size) {
  size_ = size;
  position_ = 0;
  ForgetPage();
}

bool PagedFileReaderBase::LoadFirstPage() {
  if (size_ == 0) return true;  // an empty file has an empty page 0: nothing to read
  try {
    LoadPageOf(0);
  } catch (const std::runtime_error&) {
    return false;
  }
  return true;
}

void PagedFileReaderBase::LoadPageOf(std::uint64_t offset) {
  // Carrying straight on past the window doubles the read; any other place starts small.
  const bool onward = page_length_ != 0 && offset == page_start_ + page_length_;
  std::size_t want = onward ? read_length_ * 2 : kFirstRead;
  if (want > kPageSize) want = kPageSize;
  const std::uint64_t start = onward ? offset : offset & ~static_cast<std::uint64_t>(kAlign - 1);
  std::uint64_t length = size_ - start;
  if (length > want) length = want;
  ForgetPage();
  if (buffer_ == nullptr || !ReadAt(start, buffer_, static_cast<std::size_t>(length))) {
    ThrowCannotLoadPage();
  }
  page_ = buffer_;
  page_start_ = start;
  page_length_ = length;
  read_length_ = want;
}

}  // namespace vard::diff
