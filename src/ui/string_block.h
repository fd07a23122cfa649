// Reading one text out of a Windows string-table block: 16 entries in a row, each a
// 16-bit count followed by that many UTF-16 units, no terminators. Portable, bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vard {

// The text of entry index (0-15) of the block of units 16-bit units. Empty when the
// entry is undefined (count 0) or lies, wholly or partly, beyond the block's end.
std::wstring StringBlockEntry(const std::uint16_t* block, std::size_t units, unsigned index);

}  // namespace vard
