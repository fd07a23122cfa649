// The checksum of game files as the pack manifests store it: the standard CRC-32 (zlib's,
// started from 0) written as exactly eight lowercase hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vard {

// Continues a running CRC-32 over count bytes (any count: zlib takes 32-bit lengths, so
// longer runs go in pieces).
std::uint32_t Crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t count);

// "%08lx" of the value: "0000abcd".
std::string CrcText(std::uint32_t crc);

}  // namespace vard
