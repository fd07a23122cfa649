// Fuzz target of the string-table walk: for every index, the text read from any block
// agrees with a checked reading of the format and never reaches past the block. Input
// layout: one byte for the index (all 256 values, so indexes past 15 too), then the block
// as 16-bit units (an odd last byte is not part of it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/string_block.h"

namespace {

std::wstring Reference(const std::vector<std::uint16_t>& block, unsigned index) {
  std::size_t cursor = 0;
  for (unsigned i = 0;; ++i) {
    if (cursor >= block.size()) return std::wstring();
    const std::size_t count = block.at(cursor);
    if (i == index % 16) {
      if (count == 0 || cursor + 1 + count > block.size()) return std::wstring();
      return std::wstring(block.begin() + static_cast<std::ptrdiff_t>(cursor + 1),
                          block.begin() + static_cast<std::ptrdiff_t>(cursor + 1 + count));
    }
    cursor += count + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size == 0) return 0;
  const unsigned index = input[0];
  // In a buffer of exactly the block's size, so that a read past it is caught.
  std::vector<std::uint16_t> block((size - 1) / 2);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint16_t>(input[1 + 2 * i] | input[2 + 2 * i] << 8);
  }
  const std::wstring text = vard::StringBlockEntry(block.data(), block.size(), index);
  if (text != Reference(block, index)) std::abort();
  return 0;
}
