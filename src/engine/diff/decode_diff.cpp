#include "engine/diff/decode_diff.h"

#include <cstring>

#include "engine/diff/diff_format.h"

namespace vard::diff {

bool ReadDiffNumber(DiffReader& diff, std::uint64_t& value) {
  const int first = diff.NextByte();
  if (first < 0) return false;
  int width;
  switch (first) {
    case kNumberByte: {
      const int x = diff.NextByte();
      if (x < 0) return false;
      value = kNumberByteBase + static_cast<std::uint64_t>(x);
      return true;
    }
    case kNumber16: width = 2; break;
    case kNumber32: width = 4; break;
    case kNumber64: width = 8; break;
    default:
      value = static_cast<std::uint64_t>(first) + 1;
      return true;
  }
  std::uint64_t result = 0;
  for (int i = 0; i < width; ++i) {
    const int b = diff.NextByte();
    if (b < 0) return false;
    result = (result << 8) | static_cast<std::uint64_t>(b);
  }
  value = result;
  return true;
}

namespace {

enum class Mode { None, Seek, Copy, Insert, Replace };

// Applies count data bytes under the mode: written in insert and replace mode (replace
// also steps over as many old bytes, stopping at the old file's end), dropped otherwise.
bool TakeData(Mode mode, const unsigned char* data, std::size_t count, DiffWriter& out,
              DiffReader& old) {
  if (mode == Mode::Insert) return out.Write(data, count);
  if (mode != Mode::Replace) return true;
  if (!out.Write(data, count)) return false;
  const std::uint64_t position = old.position();
  if (position < old.size()) {
    const std::uint64_t left = old.size() - position;
    old.set_position(position + (count < left ? count : left));
  }
  return true;
}

bool CopyOld(std::uint64_t count, DiffWriter& out, DiffReader& old) {
  if (old.position() > old.size() || count > old.size() - old.position()) return false;
  while (count > 0) {
    const unsigned char* data = nullptr;
    const std::size_t got = old.Peek(data, count);
    if (got == 0) return false;
    if (!out.Write(data, got)) return false;
    old.Skip(got);
    count -= got;
  }
  return true;
}

}  // namespace

bool DecodeDiff(DiffWriter& out, DiffReader& old, DiffReader& diff) {
  Mode mode = Mode::None;
  for (;;) {
    // Runs of plain data bytes are taken straight from the diff's page.
    const unsigned char* run = nullptr;
    const std::size_t available = diff.Peek(run, ~std::uint64_t{0});
    if (available == 0) return true;
    const void* escape = std::memchr(run, kEscape, available);
    const std::size_t plain =
        escape == nullptr ? available : static_cast<std::size_t>(static_cast<const unsigned char*>(escape) - run);
    if (plain > 0) {
      if (!TakeData(mode, run, plain, out, old)) return false;
      diff.Skip(plain);
      continue;
    }

    diff.Skip(1);  // the escape
    const int command = diff.NextByte();
    if (command < 0) return false;  // an escape cannot end the diff
    std::uint64_t n = 0;
    switch (command) {
      case kSeekBack:
        if (!ReadDiffNumber(diff, n)) return false;
        mode = Mode::Seek;
        if (n > old.position()) return false;
        old.set_position(old.position() - n);
        if (old.position() > old.size()) return false;
        break;
      case kSeekForward:
        if (!ReadDiffNumber(diff, n)) return false;
        mode = Mode::Seek;
        if (old.position() > old.size() || n > old.size() - old.position()) return false;
        old.set_position(old.position() + n);
        break;
      case kCopy:
        if (!ReadDiffNumber(diff, n)) return false;
        mode = Mode::Copy;
        if (!CopyOld(n, out, old)) return false;
        break;
      case kInsertMode:
        mode = Mode::Insert;
        break;
      case kReplaceMode:
        mode = Mode::Replace;
        break;
      case kEscape: {
        const unsigned char data = kEscape;
        if (!TakeData(mode, &data, 1, out, old)) return false;
        break;
      }
      default: {
        const unsigned char data[2] = {kEscape, static_cast<unsigned char>(command)};
        if (!TakeData(mode, data, 2, out, old)) return false;
        break;
      }
    }
  }
}

}  // namespace vard::diff
