#include "mkpatch/encode/archive/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace vard::mkpatch {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

bool Signature(const uint8_t* data, size_t size, uint64_t at, uint32_t sig, uint64_t length) {
  return at <= size && length <= size - at && Le32(data + at) == sig;
}

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndRecord = 0x06054b50;
constexpr uint32_t kEnd64Record = 0x06064b50;
constexpr uint32_t kEnd64Locator = 0x07064b50;
constexpr size_t kEndSize = 22, kEnd64Size = 56, kLocatorSize = 20;
constexpr size_t kCentralSize = 46, kLocalSize = 30;

// The zip64 extended information of a central header: the 64-bit values of the fields
// that hold all ones, in the order size, packed, offset.
bool ReadZip64Extra(const uint8_t* extra, size_t length, ZipEntry& entry, uint64_t& offset,
                    bool need_size, bool need_packed, bool need_offset) {
  for (size_t at = 0; at + 4 <= length;) {
    const uint16_t id = Le16(extra + at), n = Le16(extra + at + 2);
    if (n > length - at - 4) return false;
    if (id == 1) {
      const uint8_t* p = extra + at + 4;
      size_t left = n;
      auto take = [&](bool need, uint64_t& value) {
        if (!need) return true;
        if (left < 8) return false;
        value = Le64(p);
        p += 8;
        left -= 8;
        return true;
      };
      return take(need_size, entry.size) && take(need_packed, entry.packed) &&
             take(need_offset, offset);
    }
    at += 4 + n;
  }
  return !need_size && !need_packed && !need_offset;
}

}  // namespace

bool ReadZip(const uint8_t* data, size_t size, std::vector<ZipEntry>& entries) {
  entries.clear();
  if (size < kEndSize) return false;
  // The end record is the last one whose comment reaches exactly to the end of the file.
  uint64_t end = 0;
  bool found = false;
  const size_t lowest = size - kEndSize > 0xFFFF ? size - kEndSize - 0xFFFF : 0;
  for (size_t at = size - kEndSize + 1; at-- > lowest;) {
    if (Le32(data + at) == kEndRecord && at + kEndSize + Le16(data + at + 20) == size) {
      end = at;
      found = true;
      break;
    }
  }
  if (!found) return false;
  const uint8_t* e = data + end;
  if (Le16(e + 4) != 0 || Le16(e + 6) != 0) return false;  // split archives
  uint64_t count = Le16(e + 10), directory_size = Le32(e + 12), directory_offset = Le32(e + 16);
  uint64_t directory_end = end;  // where the directory stops in the file
  if (count == 0xFFFF || directory_size == 0xFFFFFFFF || directory_offset == 0xFFFFFFFF) {
    if (end < kLocatorSize || !Signature(data, size, end - kLocatorSize, kEnd64Locator, kLocatorSize))
      return false;
    // The record usually sits right before its locator; its stated offset does not count
    // a prefix, so the place before the locator is tried first.
    const uint64_t stated = Le64(data + end - kLocatorSize + 8);
    uint64_t record = end - kLocatorSize >= kEnd64Size ? end - kLocatorSize - kEnd64Size : stated;
    if (!Signature(data, size, record, kEnd64Record, kEnd64Size)) record = stated;
    if (!Signature(data, size, record, kEnd64Record, kEnd64Size)) return false;
    const uint8_t* r = data + record;
    if (Le32(r + 16) != 0 || Le32(r + 20) != 0) return false;
    count = Le64(r + 32);
    directory_size = Le64(r + 40);
    directory_offset = Le64(r + 48);
    directory_end = record;
  }
  if (directory_size > directory_end || directory_offset > directory_end - directory_size) return false;
  const uint64_t prefix = directory_end - directory_size - directory_offset;
  if (count > directory_size / kCentralSize) return false;

  uint64_t at = directory_end - directory_size;
  entries.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (!Signature(data, size, at, kCentralHeader, kCentralSize) || at + kCentralSize > directory_end)
      return false;
    const uint8_t* c = data + at;
    ZipEntry entry;
    entry.flags = Le16(c + 8);
    entry.method = Le16(c + 10);
    entry.crc = Le32(c + 16);
    entry.packed = Le32(c + 20);
    entry.size = Le32(c + 24);
    const size_t name_length = Le16(c + 28), extra_length = Le16(c + 30),
                 comment_length = Le16(c + 32);
    uint64_t header = Le32(c + 42);
    const uint64_t record_end = at + kCentralSize + name_length + extra_length + comment_length;
    if (record_end > directory_end) return false;
    entry.name.assign(reinterpret_cast<const char*>(c + kCentralSize), name_length);
    const bool need_size = entry.size == 0xFFFFFFFF, need_packed = entry.packed == 0xFFFFFFFF,
               need_offset = header == 0xFFFFFFFF;
    if ((need_size || need_packed || need_offset) &&
        !ReadZip64Extra(c + kCentralSize + name_length, extra_length, entry, header, need_size,
                        need_packed, need_offset)) {
      return false;
    }
    if (header > size - prefix) return false;
    header += prefix;
    if (!Signature(data, size, header, kLocalHeader, kLocalSize)) return false;
    const uint64_t data_offset = header + kLocalSize + Le16(data + header + 26) + Le16(data + header + 28);
    if (data_offset > size || entry.packed > size - data_offset) return false;
    entry.data_offset = data_offset;
    entries.push_back(std::move(entry));
    at = record_end;
  }
  std::sort(entries.begin(), entries.end(),
            [](const ZipEntry& a, const ZipEntry& b) { return a.data_offset < b.data_offset; });
  for (size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].data_offset < entries[i - 1].data_offset + entries[i - 1].packed) return false;
  }
  return true;
}

bool ZipEntryContent(const uint8_t* data, const ZipEntry& entry, std::vector<uint8_t>& content) {
  content.clear();
  if (entry.encrypted() || (entry.method != 0 && entry.method != 8)) return false;
  if (entry.size > kZipContentLimit) return false;
  const uint8_t* packed = data + entry.data_offset;
  if (entry.method == 0) {
    if (entry.packed != entry.size) return false;
    content.assign(packed, packed + entry.packed);
  } else {
    // One byte of room beyond the size catches content longer than the header says.
    content.resize(static_cast<size_t>(entry.size) + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    uint64_t in_left = entry.packed, out_left = content.size();
    const uint8_t* in = packed;
    uint8_t* out = content.data();
    int rc = Z_OK;
    while (rc == Z_OK) {
      const uInt in_now = static_cast<uInt>(std::min<uint64_t>(in_left, 1u << 30));
      const uInt out_now = static_cast<uInt>(std::min<uint64_t>(out_left, 1u << 30));
      z.next_in = const_cast<uint8_t*>(in);
      z.avail_in = in_now;
      z.next_out = out;
      z.avail_out = out_now;
      rc = inflate(&z, Z_NO_FLUSH);
      in += in_now - z.avail_in;
      in_left -= in_now - z.avail_in;
      out += out_now - z.avail_out;
      out_left -= out_now - z.avail_out;
      if (rc == Z_OK && in_now == z.avail_in && out_now == z.avail_out) rc = Z_BUF_ERROR;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END || in_left != 0 || out_left != 1) return false;
    content.pop_back();
  }
  uLong crc = crc32(0, nullptr, 0);
  for (size_t at = 0; at < content.size();) {
    const uInt n = static_cast<uInt>(std::min<size_t>(content.size() - at, 1u << 30));
    crc = crc32(crc, content.data() + at, n);
    at += n;
  }
  return static_cast<uint32_t>(crc) == entry.crc;
}

}  // namespace vard::mkpatch
