#include "mkpatch/encode/diff_emitter.h"

#include "engine/diff/diff_format.h"

namespace vard::mkpatch {

using namespace vard::diff;

void DiffEmitter::SettlePendingEscape(bool next_is_command_byte) {
  if (!pending_escape_) return;
  out_.push_back(kEscape);
  if (next_is_command_byte) out_.push_back(kEscape);
  pending_escape_ = false;
}

void DiffEmitter::Command(unsigned char code) {
  SettlePendingEscape(true);  // every command starts with the escape byte itself
  out_.push_back(kEscape);
  out_.push_back(code);
}

void DiffEmitter::Number(std::uint64_t n) {
  unsigned char bytes[9];
  const int count = EncodeDiffNumber(n, bytes);
  out_.insert(out_.end(), bytes, bytes + count);
}

void DiffEmitter::SetMode(Mode mode) {
  if (mode_ == mode) return;
  Command(mode == Mode::Insert ? kInsertMode : kReplaceMode);
  mode_ = mode;
}

void DiffEmitter::SeekTo(std::uint64_t target) {
  if (target == old_position_) return;
  if (target < old_position_) {
    Command(kSeekBack);
    Number(old_position_ - target);
  } else {
    Command(kSeekForward);
    Number(target - old_position_);
  }
  old_position_ = target;
  mode_ = Mode::Seek;
}

void DiffEmitter::Copy(std::uint64_t count) {
  if (count == 0) return;
  Command(kCopy);
  Number(count);
  old_position_ += count;
  mode_ = Mode::Copy;
}

void DiffEmitter::Literal(const unsigned char* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char b = data[i];
    SettlePendingEscape(IsCommandByte(b));
    if (b == kEscape) {
      pending_escape_ = true;
    } else {
      out_.push_back(b);
    }
  }
}

void DiffEmitter::Insert(const unsigned char* data, std::size_t count) {
  if (count == 0) return;
  SetMode(Mode::Insert);
  Literal(data, count);
}

void DiffEmitter::Replace(const unsigned char* data, std::size_t count, std::uint64_t old_size) {
  if (count == 0) return;
  SetMode(Mode::Replace);
  Literal(data, count);
  const std::uint64_t left = old_position_ < old_size ? old_size - old_position_ : 0;
  old_position_ += count < left ? count : left;
}

std::vector<unsigned char> DiffEmitter::Finish() {
  SettlePendingEscape(true);
  std::vector<unsigned char> result;
  result.swap(out_);
  mode_ = Mode::None;
  old_position_ = 0;
  return result;
}

}  // namespace vard::mkpatch
