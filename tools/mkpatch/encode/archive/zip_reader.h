// Takes a zip-format archive (zip, jar, apk, jmod) apart into its entries as the central
// directory lists them, so that an archive diff can treat each entry's content on its own.
// Only what rebuilding needs is read: names, methods, sizes, CRCs and where each entry's
// compressed bytes lie in the file. A prefix before the archive (a jmod's header, an exe
// stub) is allowed, as is zip64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vard::mkpatch {

struct ZipEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;       // 0 stored, 8 deflate, others are left alone
  uint32_t crc = 0;          // CRC-32 of the content, from the central directory
  uint64_t packed = 0;       // compressed size
  uint64_t size = 0;         // content size
  uint64_t data_offset = 0;  // where the compressed bytes start in the file
  bool encrypted() const { return (flags & 1) != 0; }
};

// The entries of the archive in `data`, ordered by data_offset; false when the bytes are
// not an archive this reader takes apart (no end record, a directory or local header out
// of bounds or malformed, split archives, entries whose bytes overlap).
bool ReadZip(const uint8_t* data, size_t size, std::vector<ZipEntry>& entries);

// Larger entries are not taken apart: their content would sit in memory whole.
inline constexpr uint64_t kZipContentLimit = uint64_t{256} << 20;

// The content of a stored or deflate entry, checked against its size and CRC-32; false
// for any other method, an encrypted entry, one over kZipContentLimit, or bytes that do not inflate to the content.
bool ZipEntryContent(const uint8_t* data, const ZipEntry& entry, std::vector<uint8_t>& content);

}  // namespace vard::mkpatch
