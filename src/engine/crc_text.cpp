#include "engine/crc_text.h"

#include <zlib.h>

#include <cstdio>

namespace vard {

std::uint32_t Crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t count) {
  uLong value = crc;
  while (count > 0) {
    const uInt piece = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
    value = crc32(value, data, piece);
    data += piece;
    count -= piece;
  }
  return static_cast<std::uint32_t>(value);
}

std::string CrcText(std::uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
  return text;
}

}  // namespace vard
