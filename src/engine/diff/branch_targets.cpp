#include "engine/diff/branch_targets.h"

#include <bit>
#include <cstring>
#include <new>

namespace vard::diff {
namespace {

constexpr std::size_t kWindow = std::size_t{64} << 10;

std::uint32_t Converted(std::uint32_t operand, std::uint32_t next, bool to_absolute) {
  const std::uint32_t value = (to_absolute ? operand + next : operand - next) & 0x1FFFFFFu;
  return (value & 0x1000000u) != 0 ? value | 0xFE000000u : value;
}

// The first byte in [p, end) that is E8 or E9, or end. Eight bytes at a time: most code
// bytes are neither, and a byte-at-a-time scan cost more than decoding the diff.
const unsigned char* NextCallOrJump(const unsigned char* p, const unsigned char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // Zero bytes where the byte is E8 or E9 (they differ in the lowest bit only). The
    // test marks the lowest zero byte exactly (a borrow can mark bytes above it only), so
    // on a little-endian machine its lowest mark is the first such byte.
    const std::uint64_t x = (word & (kOnes * 0xFE)) ^ (kOnes * 0xE8);
    const std::uint64_t marks = (x - kOnes) & ~x & kHigh;
    if (marks != 0) {
      if constexpr (std::endian::native == std::endian::little) return p + std::countr_zero(marks) / 8;
      break;
    }
    p += 8;
  }
  while (p < end && (*p & 0xFE) != 0xE8) ++p;
  return p;
}

void ConvertSpan(unsigned char* data, std::uint64_t data_offset, std::uint64_t from,
                 std::uint64_t to, const CodeRange& range, bool to_absolute) {
  for (std::uint64_t at = from; at + 5 <= to;) {
    const unsigned char* last = data + (to - 5 - data_offset);  // the last place a call fits
    const unsigned char* found = NextCallOrJump(data + (at - data_offset), last + 1);
    if (found > last) break;
    at = static_cast<std::uint64_t>(found - data) + data_offset;
    unsigned char* p = data + (at - data_offset);
    if (p[4] == 0x00 || p[4] == 0xFF) {
      const std::uint32_t operand = static_cast<std::uint32_t>(p[1]) |
                                    static_cast<std::uint32_t>(p[2]) << 8 |
                                    static_cast<std::uint32_t>(p[3]) << 16 |
                                    static_cast<std::uint32_t>(p[4]) << 24;
      const std::uint32_t next = static_cast<std::uint32_t>(range.address + (at + 5 - range.start));
      const std::uint32_t v = Converted(operand, next, to_absolute);
      for (int i = 0; i < 4; ++i) p[1 + i] = static_cast<unsigned char>(v >> (8 * i));
    }
    at += 5;
  }
}

}  // namespace

void ConvertBranchTargets(unsigned char* data, std::size_t length, std::uint64_t offset,
                          const CodeRanges& ranges, bool to_absolute) {
  const std::uint64_t end = offset + length;
  for (std::size_t r = 0; r < ranges.count; ++r) {
    const CodeRange& range = ranges.ranges[r];
    const std::uint64_t lo = range.start > offset ? range.start : offset;
    const std::uint64_t range_end = range.start + range.length;
    const std::uint64_t hi = range_end < end ? range_end : end;
    // Block by block, each scanned from its start or the range's.
    for (std::uint64_t from = lo; from < hi;) {
      const std::uint64_t block_end = (from / kBranchBlock + 1) * kBranchBlock;
      const std::uint64_t to = block_end < hi ? block_end : hi;
      ConvertSpan(data, offset, from, to, range, to_absolute);
      from = to;
    }
  }
}

AbsoluteTargetsReader::AbsoluteTargetsReader(DiffReader& inner, const CodeRanges& ranges)
    : inner_(inner), ranges_(ranges), buffer_(new (std::nothrow) unsigned char[kWindow]) {
  size_ = inner.size();
}

AbsoluteTargetsReader::~AbsoluteTargetsReader() { delete[] buffer_; }

void AbsoluteTargetsReader::LoadPageOf(std::uint64_t offset) {
  if (buffer_ == nullptr) ThrowCannotLoadPage();
  const std::uint64_t start = offset - offset % kBranchBlock;
  std::uint64_t length = size_ - start;
  if (length > kWindow) length = kWindow;
  ForgetPage();
  inner_.set_position(start);
  for (std::uint64_t got = 0; got < length;) {
    const unsigned char* data = nullptr;
    const std::size_t n = inner_.Peek(data, length - got);
    if (n == 0) ThrowCannotLoadPage();
    std::memcpy(buffer_ + got, data, n);
    inner_.Skip(n);
    got += n;
  }
  ConvertBranchTargets(buffer_, static_cast<std::size_t>(length), start, ranges_, true);
  page_ = buffer_;
  page_start_ = start;
  page_length_ = length;
}

RelativeTargetsOutput::RelativeTargetsOutput(DiffWriter& out, const CodeRanges& ranges)
    : out_(out), ranges_(ranges) {
  out_.set_filter(this);
}

RelativeTargetsOutput::~RelativeTargetsOutput() { out_.set_filter(nullptr); }

bool RelativeTargetsOutput::Finish() { return out_.Flush(); }

void RelativeTargetsOutput::Filter(unsigned char* data, std::size_t count, std::uint64_t offset) {
  ConvertBranchTargets(data, count, offset, ranges_, false);
}

}  // namespace vard::diff
