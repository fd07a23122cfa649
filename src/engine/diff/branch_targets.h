// x86 call and jump targets in a stream diff's code ranges: a rebuilt executable moves its
// code, and every relative E8 (call) and E9 (jmp) target changes with it, while the
// absolute target (the address called) mostly does not. A diff flagged kBranchTargets
// (stream_diff.h) is made between the two files with relative targets turned absolute in
// their code ranges, so the decoder turns the old file's targets absolute as it reads it
// and the new file's back to relative as it writes it.
//
// The rule, the same both ways: each 4 KiB block of the file (by file offset) is scanned
// on its own from its start, or from a code range's start inside it; at an E8 or E9 byte
// whose five bytes lie inside the block and the range, the 32-bit little-endian operand
// is converted when its top byte is 00 or FF (a target within 16 MiB), and the scan goes
// on after the operand; at any other byte it goes on at the next. Conversion adds (or
// subtracts) the address of the next instruction, within 25 bits sign-extended, so that
// the top byte stays 00 or FF and the scan makes the same choices on either side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/diff/diff_reader.h"
#include "engine/diff/diff_writer.h"

namespace vard::diff {

inline constexpr std::size_t kBranchBlock = std::size_t{4} << 10;
inline constexpr std::size_t kMaxCodeRanges = 16;

// File offsets [start, start + length) hold code whose first byte is at `address`.
struct CodeRange {
  std::uint64_t start = 0, length = 0, address = 0;
};

struct CodeRanges {
  CodeRange ranges[kMaxCodeRanges];
  std::size_t count = 0;
};

// Converts the bytes of [offset, offset + length) in place; offset must be a multiple of
// kBranchBlock and length reach a block's end or the file's. to_absolute false undoes it.
void ConvertBranchTargets(unsigned char* data, std::size_t length, std::uint64_t offset,
                          const CodeRanges& ranges, bool to_absolute);

// Reads another reader's bytes with their targets made absolute, a 64 KiB window at a
// time (its own memory beside the other reader's).
class AbsoluteTargetsReader final : public DiffReader {
 public:
  AbsoluteTargetsReader(DiffReader& inner, const CodeRanges& ranges);
  ~AbsoluteTargetsReader() override;
  bool ok() const { return buffer_ != nullptr; }

 protected:
  void LoadPageOf(std::uint64_t offset) override;

 private:
  DiffReader& inner_;
  const CodeRanges& ranges_;
  unsigned char* buffer_;
};

// Turns the targets of what a writer hands on back to relative while it lives; flushes
// the writer at Finish (which must come after the last byte, as blocks are converted
// whole).
class RelativeTargetsOutput final : public DiffWriter::BlockFilter {
 public:
  RelativeTargetsOutput(DiffWriter& out, const CodeRanges& ranges);
  ~RelativeTargetsOutput() override;
  bool Finish();
  void Filter(unsigned char* data, std::size_t count, std::uint64_t offset) override;

 private:
  DiffWriter& out_;
  const CodeRanges& ranges_;
};

}  // namespace vard::diff
