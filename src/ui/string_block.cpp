#include "ui/string_block.h"

namespace vard {

std::wstring StringBlockEntry(const std::uint16_t* block, std::size_t units, unsigned index) {
  std::size_t cursor = 0;
  for (unsigned i = 0; i < index % 16; ++i) {
    if (cursor >= units) return std::wstring();
    cursor += static_cast<std::size_t>(block[cursor]) + 1;
  }
  if (cursor >= units) return std::wstring();
  const std::size_t count = block[cursor];
  // A count running past the block would read beyond the resource: treat it as missing.
  if (count == 0 || count > units - cursor - 1) return std::wstring();
  std::wstring text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<wchar_t>(block[cursor + 1 + i]));
  return text;
}

}  // namespace vard
