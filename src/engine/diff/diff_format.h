// The byte layout of the patch diff format, shared by the decoder in the patcher and the
// encoder in mkpatch: data bytes interleaved with two-byte commands introduced by an
// escape byte, and the variable-length numbers that follow the seek and copy commands.
// docs/diff-format.md describes the format for patch authors.
#pragma once

#include <cstdint>

namespace vard::diff {

// Introduces every command; as data it is written doubled or followed by a non-command.
inline constexpr unsigned char kEscape = 0xA7;

// Second bytes of the commands.
inline constexpr unsigned char kSeekBack = 0xA2;     // number n: old position -= n
inline constexpr unsigned char kCopy = 0xA3;         // number n: copy n old bytes
inline constexpr unsigned char kSeekForward = 0xA4;  // number n: old position += n
inline constexpr unsigned char kInsertMode = 0xA5;   // data bytes go to the output
inline constexpr unsigned char kReplaceMode = 0xA6;  // data bytes overwrite old bytes
// kEscape after kEscape is one literal data byte 0xA7.

// True for the bytes that, after an escape, form a command (or the escaped escape); a
// data byte 0xA7 followed by one of these must be written doubled.
constexpr bool IsCommandByte(unsigned char b) { return b >= kSeekBack && b <= kEscape; }

// Numbers: a first byte up to kNumberMaxInline stands for itself plus one (1 to 252);
// the prefixes below announce 1, 2, 4 or 8 further big-endian bytes.
inline constexpr unsigned char kNumberMaxInline = 0xFB;
inline constexpr unsigned char kNumberByte = 0xFC;    // x + 253: 253 to 508
inline constexpr unsigned char kNumber16 = 0xFD;
inline constexpr unsigned char kNumber32 = 0xFE;
inline constexpr unsigned char kNumber64 = 0xFF;
inline constexpr std::uint64_t kNumberByteBase = 253;

// How an encoder writes n: the shortest form that holds it. Returns the byte count
// (1 to 9) written to out, which must have room for 9 bytes.
inline int EncodeDiffNumber(std::uint64_t n, unsigned char* out) {
  if (n >= 1 && n <= kNumberMaxInline + 1u) {
    out[0] = static_cast<unsigned char>(n - 1);
    return 1;
  }
  if (n >= kNumberByteBase && n <= kNumberByteBase + 0xFF) {
    out[0] = kNumberByte;
    out[1] = static_cast<unsigned char>(n - kNumberByteBase);
    return 2;
  }
  int width;
  if (n <= 0xFFFFu) {
    out[0] = kNumber16;
    width = 2;
  } else if (n <= 0xFFFFFFFFu) {
    out[0] = kNumber32;
    width = 4;
  } else {
    out[0] = kNumber64;
    width = 8;
  }
  for (int i = 0; i < width; ++i) {
    out[1 + i] = static_cast<unsigned char>(n >> (8 * (width - 1 - i)));
  }
  return 1 + width;
}

}  // namespace vard::diff
