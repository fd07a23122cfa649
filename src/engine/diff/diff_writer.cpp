#include "engine/diff/diff_writer.h"

#include <cstring>
#include <new>

#include "engine/crc_text.h"
#include "model/progress_tree.h"

namespace vard::diff {

DiffWriter::~DiffWriter() { delete[] buffer_; }

bool DiffWriter::Start(ProgressNode* node) {
  if (buffer_ == nullptr) {
    buffer_ = new (std::nothrow) unsigned char[kBufferSize];
    if (buffer_ == nullptr) return false;
  }
  capacity_ = kBufferSize;
  count_ = 0;
  written_ = 0;
  crc_ = 0;
  node_ = node;
  limit_ = ~std::uint64_t{0};
  over_limit_ = false;
  return true;
}

void DiffWriter::ReleaseBuffer() {
  delete[] buffer_;
  buffer_ = nullptr;
  capacity_ = 0;
  count_ = 0;
}

bool DiffWriter::Hand(const unsigned char* data, std::size_t count) {
  if (count > limit_ - written_) {
    over_limit_ = true;
    return false;
  }
  // Blocks pass through the buffer whenever a filter is set (see Write).
  if (filter_ != nullptr) filter_->Filter(buffer_, count, written_);
  if (!Deliver(data, count)) return false;
  crc_ = Crc32Update(crc_, data, count);
  written_ += count;
  if (node_ != nullptr) AdvanceProgress(*node_, written_);
  return true;
}

bool DiffWriter::Flush() {
  if (buffer_ == nullptr) return false;
  if (count_ == 0) return true;
  if (!Hand(buffer_, count_)) return false;
  count_ = 0;
  return true;
}

bool DiffWriter::Write(const unsigned char* data, std::uint64_t count) {
  if (buffer_ == nullptr) return false;
  // Bytes up to the limit are taken, the rest refused at once: a decoder writing a bomb
  // stops at its first write past the limit. Put may have buffered bytes past the limit
  // already; Hand refuses to flush them.
  const std::uint64_t taken = written_ + count_;
  const bool over = taken > limit_ || count > limit_ - taken;
  if (over) {
    over_limit_ = true;
    count = taken > limit_ ? 0 : limit_ - taken;
  }
  while (count > 0) {
    if (count_ == capacity_ && !Flush()) return false;
    // Whole blocks that find the buffer empty go on without the extra copy.
    if (count_ == 0 && count >= capacity_ && filter_ == nullptr) {
      if (!Hand(data, capacity_)) return false;
      data += capacity_;
      count -= capacity_;
      continue;
    }
    std::size_t room = capacity_ - count_;
    if (room > count) room = static_cast<std::size_t>(count);
    std::memcpy(buffer_ + count_, data, room);
    count_ += room;
    data += room;
    count -= room;
  }
  return !over;
}

}  // namespace vard::diff
