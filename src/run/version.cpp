#include "run/version.h"

#include <cctype>

namespace vard {
namespace {

// One "%d" conversion: skips white space, takes an optional sign and at least one digit.
// Accumulates in unsigned arithmetic so that overlong numbers wrap rather than overflow.
bool ScanInt(const std::string& text, std::size_t& pos, std::uint32_t& value) {
  std::size_t i = pos;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  std::uint32_t result = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    result = result * 10u + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  value = negative ? 0u - result : result;
  pos = i;
  return true;
}

}  // namespace

std::int32_t ParseVersion(const std::string& text) {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::size_t pos = 0;
  if (ScanInt(text, pos, major) && pos < text.size() && text[pos] == '.') {
    ++pos;
    ScanInt(text, pos, minor);
  }
  return static_cast<std::int32_t>((major << 16) | minor);
}

int FindStartingSet(std::int32_t installed, const std::string& from,
                    const std::vector<std::string>& other_from) {
  if (installed == ParseVersion(from)) return 0;
  for (std::size_t k = 0; k < other_from.size(); ++k) {
    if (installed == ParseVersion(other_from[k])) return static_cast<int>(k + 1);
  }
  return -1;
}

}  // namespace vard
