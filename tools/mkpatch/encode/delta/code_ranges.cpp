#include "mkpatch/encode/delta/code_ranges.h"

#include <algorithm>
#include <vector>

namespace vard::mkpatch {
namespace {

uint64_t Le(const uint8_t* data, size_t size, uint64_t at, int bytes, bool& ok) {
  if (at > size || static_cast<uint64_t>(bytes) > size - at) {
    ok = false;
    return 0;
  }
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | data[at + static_cast<uint64_t>(i)];
  return value;
}

void Pe(const uint8_t* data, size_t size, std::vector<diff::CodeRange>& out, bool& ok) {
  const uint64_t pe = Le(data, size, 0x3C, 4, ok);
  if (!ok || Le(data, size, pe, 4, ok) != 0x00004550) {
    ok = false;
    return;
  }
  const uint64_t sections = Le(data, size, pe + 6, 2, ok);
  const uint64_t optional_size = Le(data, size, pe + 20, 2, ok);
  const uint64_t table = pe + 24 + optional_size;
  for (uint64_t i = 0; ok && i < sections; ++i) {
    const uint64_t h = table + 40 * i;
    const uint64_t address = Le(data, size, h + 12, 4, ok);
    const uint64_t raw_size = Le(data, size, h + 16, 4, ok);
    const uint64_t raw_start = Le(data, size, h + 20, 4, ok);
    const uint64_t flags = Le(data, size, h + 36, 4, ok);
    if (ok && (flags & 0x20000020u) != 0 && raw_start < size && raw_size > 0)
      out.push_back({raw_start, std::min<uint64_t>(raw_size, size - raw_start), address});
  }
}

void Elf(const uint8_t* data, size_t size, std::vector<diff::CodeRange>& out, bool& ok) {
  const bool wide = data[4] == 2;
  if (data[5] != 1) {  // little-endian only
    ok = false;
    return;
  }
  const int word = wide ? 8 : 4;
  const uint64_t table = Le(data, size, wide ? 0x28 : 0x20, word, ok);
  const uint64_t entry = Le(data, size, wide ? 0x3A : 0x2E, 2, ok);
  const uint64_t count = Le(data, size, wide ? 0x3C : 0x30, 2, ok);
  for (uint64_t i = 0; ok && i < count; ++i) {
    const uint64_t h = table + entry * i;
    const uint64_t type = Le(data, size, h + 4, 4, ok);
    const uint64_t flags = Le(data, size, h + 8, word, ok);
    const uint64_t address = Le(data, size, h + 8 + static_cast<uint64_t>(word), word, ok);
    const uint64_t start = Le(data, size, h + 8 + 2 * static_cast<uint64_t>(word), word, ok);
    const uint64_t length = Le(data, size, h + 8 + 3 * static_cast<uint64_t>(word), word, ok);
    if (ok && type != 8 /* no bits */ && (flags & 0x4) != 0 && start < size && length > 0)
      out.push_back({start, std::min<uint64_t>(length, size - start), address});
  }
}

}  // namespace

diff::CodeRanges FindCodeRanges(const uint8_t* data, size_t size) {
  std::vector<diff::CodeRange> found;
  bool ok = true;
  if (size >= 0x40 && data[0] == 'M' && data[1] == 'Z') Pe(data, size, found, ok);
  else if (size >= 0x40 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F')
    Elf(data, size, found, ok);
  diff::CodeRanges ranges;
  if (!ok || found.empty()) return ranges;
  std::sort(found.begin(), found.end(),
            [](const diff::CodeRange& a, const diff::CodeRange& b) { return a.length > b.length; });
  if (found.size() > diff::kMaxCodeRanges) found.resize(diff::kMaxCodeRanges);
  std::sort(found.begin(), found.end(),
            [](const diff::CodeRange& a, const diff::CodeRange& b) { return a.start < b.start; });
  uint64_t end = 0;
  for (const diff::CodeRange& r : found) {
    if (r.start < end) continue;  // overlapping sections: the first keeps its bytes
    ranges.ranges[ranges.count++] = r;
    end = r.start + r.length;
  }
  return ranges;
}

}  // namespace vard::mkpatch
