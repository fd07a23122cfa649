// Builds small zip archives for tests: entries stored or deflated with chosen zlib
// settings (or any given compressed bytes), an optional prefix before the archive, and
// optionally the zip64 form of every size and offset.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vard::mkpatch {

struct ZipMakerEntry {
  std::string name;
  std::vector<uint8_t> content;
  int method = 8;          // 0 stored, 8 deflate
  int level = 6, mem_level = 8, strategy = Z_DEFAULT_STRATEGY;
};

inline std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& content, int level, int mem_level,
                                       int strategy) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, mem_level, strategy);
  std::vector<uint8_t> out(deflateBound(&z, content.size()) + 16);
  z.next_in = const_cast<uint8_t*>(content.data());
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::vector<uint8_t> MakeZip(const std::vector<ZipMakerEntry>& entries,
                                    const std::vector<uint8_t>& prefix = {}, bool zip64 = false) {
  std::vector<uint8_t> out = prefix, directory;
  auto put = [](std::vector<uint8_t>& to, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const uint64_t base = prefix.size();  // offsets count from the archive's start
  for (const ZipMakerEntry& e : entries) {
    const std::vector<uint8_t> packed =
        e.method == 8 ? RawDeflate(e.content, e.level, e.mem_level, e.strategy) : e.content;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, e.content.data(), static_cast<uInt>(e.content.size())));
    const uint64_t header = out.size() - base;
    const uint32_t small = zip64 ? 0xFFFFFFFF : 0;
    put(out, 0x04034b50, 4);
    put(out, 20, 2);
    put(out, 0, 2);
    put(out, e.method, 2);
    put(out, 0, 4);  // time and date
    put(out, crc, 4);
    put(out, zip64 ? small : packed.size(), 4);
    put(out, zip64 ? small : e.content.size(), 4);
    put(out, e.name.size(), 2);
    put(out, zip64 ? 20 : 0, 2);
    out.insert(out.end(), e.name.begin(), e.name.end());
    if (zip64) {
      put(out, 1, 2);
      put(out, 16, 2);
      put(out, e.content.size(), 8);
      put(out, packed.size(), 8);
    }
    out.insert(out.end(), packed.begin(), packed.end());

    put(directory, 0x02014b50, 4);
    put(directory, 20, 2);
    put(directory, 20, 2);
    put(directory, 0, 2);
    put(directory, e.method, 2);
    put(directory, 0, 4);
    put(directory, crc, 4);
    put(directory, zip64 ? small : packed.size(), 4);
    put(directory, zip64 ? small : e.content.size(), 4);
    put(directory, e.name.size(), 2);
    put(directory, zip64 ? 28 : 0, 2);
    put(directory, 0, 2);  // comment
    put(directory, 0, 2);  // disk
    put(directory, 0, 2);
    put(directory, 0, 4);
    put(directory, zip64 ? small : header, 4);
    directory.insert(directory.end(), e.name.begin(), e.name.end());
    if (zip64) {
      put(directory, 1, 2);
      put(directory, 24, 2);
      put(directory, e.content.size(), 8);
      put(directory, packed.size(), 8);
      put(directory, header, 8);
    }
  }
  const uint64_t directory_offset = out.size() - base;
  out.insert(out.end(), directory.begin(), directory.end());
  if (zip64) {
    const uint64_t record = out.size() - base;
    put(out, 0x06064b50, 4);
    put(out, 44, 8);
    put(out, 45, 2);
    put(out, 45, 2);
    put(out, 0, 4);
    put(out, 0, 4);
    put(out, entries.size(), 8);
    put(out, entries.size(), 8);
    put(out, directory.size(), 8);
    put(out, directory_offset, 8);
    put(out, 0x07064b50, 4);
    put(out, 0, 4);
    put(out, record, 8);
    put(out, 1, 4);
  }
  put(out, 0x06054b50, 4);
  put(out, 0, 4);
  put(out, zip64 ? 0xFFFF : entries.size(), 2);
  put(out, zip64 ? 0xFFFF : entries.size(), 2);
  put(out, zip64 ? 0xFFFFFFFF : directory.size(), 4);
  put(out, zip64 ? 0xFFFFFFFF : directory_offset, 4);
  put(out, 0, 2);
  return out;
}

}  // namespace vard::mkpatch
