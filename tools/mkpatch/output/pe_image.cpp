#include "mkpatch/output/pe_image.h"

#include <algorithm>
#include <cstring>

namespace vard::mkpatch {
namespace {

constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDebugEntrySize = 28;

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The bytes a section spans once mapped (its virtual size, or its raw size when the
// linker left the virtual size zero).
uint32_t Span(const PeSection& s) { return s.virtual_size ? s.virtual_size : s.raw_size; }

}  // namespace

uint32_t PeChecksum(std::span<const uint8_t> bytes, size_t checksum_offset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    if (i == checksum_offset || i == checksum_offset + 2) continue;
    uint32_t word = bytes[i];
    if (i + 1 < bytes.size()) word |= uint32_t{bytes[i + 1]} << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + bytes.size());
}

PeImage::PeImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) { Parse(); }

namespace {

uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
  if (at + 4 > b.size()) throw PeError("the headers run past the end of the file");
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
  if (at + 2 > b.size()) throw PeError("the headers run past the end of the file");
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

void Put16(std::vector<uint8_t>& b, uint64_t at, uint16_t value) {
  b.at(at) = static_cast<uint8_t>(value);
  b.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void PeImage::Parse() {
  if (bytes_.size() < 0x40 || bytes_[0] != 'M' || bytes_[1] != 'Z')
    throw PeError("not a Windows executable (no MZ header)");
  pe_ = Get32(bytes_, 0x3C);
  if (uint64_t{pe_} + 24 > bytes_.size() || std::memcmp(&bytes_[pe_], "PE\0\0", 4) != 0)
    throw PeError("not a Windows executable (no PE header)");
  machine_ = Get16(bytes_, pe_ + 4);
  const uint16_t count = Get16(bytes_, pe_ + 6);
  const uint16_t optional_size = Get16(bytes_, pe_ + 20);
  optional_ = pe_ + 24;
  const uint16_t magic = Get16(bytes_, optional_);
  if (magic != 0x10B && magic != 0x20B) throw PeError("unknown optional header magic");
  pe32_plus_ = magic == 0x20B;
  const uint32_t directories_at = pe32_plus_ ? 112 : 96;
  if (optional_size < directories_at) throw PeError("the optional header is too short");
  directories_ = optional_ + directories_at;
  directory_count_ = Get32(bytes_, optional_ + directories_at - 4);
  if (directory_count_ > 16 || directories_at + 8 * directory_count_ > optional_size)
    throw PeError("the data directories do not fit the optional header");
  section_alignment_ = Get32(bytes_, optional_ + 32);
  file_alignment_ = Get32(bytes_, optional_ + 36);
  if (!IsPowerOfTwo(section_alignment_) || !IsPowerOfTwo(file_alignment_) ||
      file_alignment_ > section_alignment_)
    throw PeError("the section and file alignments are not powers of two");
  section_table_ = optional_ + optional_size;
  const uint32_t size_of_headers = Get32(bytes_, optional_ + 60);
  if (count == 0 || uint64_t{section_table_} + uint64_t{count} * kSectionHeaderSize > size_of_headers ||
      size_of_headers > bytes_.size())
    throw PeError("the section table does not fit the headers");
  sections_.clear();
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t at = section_table_ + i * kSectionHeaderSize;
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(&bytes_[at]), 8);
    s.name.erase(std::find(s.name.begin(), s.name.end(), '\0'), s.name.end());
    s.virtual_size = Get32(bytes_, at + 8);
    s.virtual_address = Get32(bytes_, at + 12);
    s.raw_size = Get32(bytes_, at + 16);
    s.raw_pointer = Get32(bytes_, at + 20);
    s.characteristics = Get32(bytes_, at + 36);
    if (s.raw_size && uint64_t{s.raw_pointer} + s.raw_size > bytes_.size())
      throw PeError("section " + s.name + " runs past the end of the file");
    sections_.push_back(s);
  }
}

uint32_t PeImage::Field32(size_t offset) const { return Get32(bytes_, optional_ + offset); }

PeDirectory PeImage::directory(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= directory_count_) return {};
  return {Get32(bytes_, directories_ + 8 * index), Get32(bytes_, directories_ + 8 * index + 4)};
}

void PeImage::SetDirectory(int index, PeDirectory value) {
  if (index < 0 || static_cast<uint32_t>(index) >= directory_count_)
    throw PeError("the image has no data directory " + std::to_string(index));
  Put32(bytes_, directories_ + 8 * index, value.address);
  Put32(bytes_, directories_ + 8 * index + 4, value.size);
}

int PeImage::SectionAt(uint32_t rva) const {
  for (size_t i = 0; i < sections_.size(); ++i) {
    const PeSection& s = sections_[i];
    if (rva >= s.virtual_address && rva - s.virtual_address < Span(s)) return static_cast<int>(i);
  }
  return -1;
}

std::span<const uint8_t> PeImage::At(uint32_t rva, uint32_t size) const {
  const int index = SectionAt(rva);
  if (index < 0) throw PeError("address " + std::to_string(rva) + " lies outside every section");
  const PeSection& s = sections_[index];
  const uint64_t offset = rva - s.virtual_address;
  if (offset + size > s.raw_size) throw PeError("data runs past the end of section " + s.name);
  return {bytes_.data() + Stored(uint64_t{s.raw_pointer} + offset), size};
}

uint32_t PeImage::NextSectionAddress() const {
  uint64_t end = 0;
  for (const PeSection& s : sections_)
    end = std::max<uint64_t>(end, uint64_t{s.virtual_address} + Span(s));
  return static_cast<uint32_t>(AlignUp(end, section_alignment_));
}

void PeImage::WriteSectionHeader(size_t index) {
  const PeSection& s = sections_[index];
  const uint32_t at = section_table_ + static_cast<uint32_t>(index) * kSectionHeaderSize;
  std::memset(&bytes_[at], 0, 8);
  std::memcpy(&bytes_[at], s.name.data(), std::min<size_t>(s.name.size(), 8));
  Put32(bytes_, at + 8, s.virtual_size);
  Put32(bytes_, at + 12, s.virtual_address);
  Put32(bytes_, at + 16, s.raw_size);
  Put32(bytes_, at + 20, s.raw_pointer);
  Put32(bytes_, at + 36, s.characteristics);
}

void PeImage::MoveTail(size_t after, uint32_t from, int64_t file_delta, int64_t rva_delta,
                       uint32_t rva_from) {
  auto moved_offset = [&](uint32_t offset) {
    return offset >= from ? static_cast<uint32_t>(offset + file_delta) : offset;
  };
  auto moved_rva = [&](uint32_t rva) {
    return rva >= rva_from ? static_cast<uint32_t>(rva + rva_delta) : rva;
  };
  for (size_t j = after + 1; j < sections_.size(); ++j) {
    if (sections_[j].raw_size) sections_[j].raw_pointer = moved_offset(sections_[j].raw_pointer);
    sections_[j].virtual_address = moved_rva(sections_[j].virtual_address);
    WriteSectionHeader(j);
  }
  const uint32_t symbols = Get32(bytes_, pe_ + 12);
  if (symbols) Put32(bytes_, pe_ + 12, moved_offset(symbols));
  for (uint32_t i = 0; i < directory_count_; ++i) {
    PeDirectory d = directory(static_cast<int>(i));
    if (d.address == 0) continue;
    d.address = i == kCertificateDirectory ? moved_offset(d.address) : moved_rva(d.address);
    SetDirectory(static_cast<int>(i), d);
  }
  // Debug entries name their data both by address and by file offset.
  const PeDirectory debug = directory(kDebugDirectory);
  if (debug.address && debug.size) {
    const int index = SectionAt(debug.address);
    if (index < 0) throw PeError("the debug directory lies outside every section");
    const PeSection& s = sections_[index];
    const uint64_t at = uint64_t{s.raw_pointer} + (debug.address - s.virtual_address);
    if (debug.address - s.virtual_address + uint64_t{debug.size} > s.raw_size)
      throw PeError("the debug directory runs past the end of section " + s.name);
    for (uint64_t e = at; e + kDebugEntrySize <= at + debug.size; e += kDebugEntrySize) {
      const uint64_t stored = Stored(e);
      if (const uint32_t rva = Get32(bytes_, stored + 20)) Put32(bytes_, stored + 20, moved_rva(rva));
      if (const uint32_t raw = Get32(bytes_, stored + 24)) Put32(bytes_, stored + 24, moved_offset(raw));
    }
  }
  uint64_t image_end = 0;
  for (const PeSection& s : sections_)
    image_end = std::max<uint64_t>(image_end, uint64_t{s.virtual_address} + Span(s));
  Put32(bytes_, optional_ + 56, static_cast<uint32_t>(AlignUp(image_end, section_alignment_)));
}

uint64_t PeImage::Stored(uint64_t file_offset) const {
  if (file_offset < reserved_at_ || reserved_size_ == 0) return file_offset;
  if (file_offset - reserved_at_ < reserved_size_)
    throw PeError("offset " + std::to_string(file_offset) + " lies in a section written separately");
  return file_offset - reserved_size_;
}

void PeImage::RequireWhole() const {
  if (reserved_size_ != 0) throw PeError("the image no longer holds all its sections and cannot change");
}

void PeImage::ReplaceSection(size_t index, const std::vector<uint8_t>& data) {
  Resize(index, &data, data.size());
}

void PeImage::ReserveSection(size_t index, uint64_t size) { Resize(index, nullptr, size); }

void PeImage::Resize(size_t index, const std::vector<uint8_t>* data, uint64_t size) {
  RequireWhole();
  PeSection& s = sections_.at(index);
  if (s.raw_size == 0) throw PeError("section " + s.name + " has no data in the file");
  const uint32_t old_raw_end = s.raw_pointer + s.raw_size;
  const uint64_t old_span_end = AlignUp(uint64_t{s.virtual_address} + Span(s), section_alignment_);
  for (size_t j = 0; j < sections_.size(); ++j) {
    if (j == index) continue;
    const PeSection& other = sections_[j];
    const bool before = j < index;
    const bool raw_ok = other.raw_size == 0 ||
                        (before ? other.raw_pointer + uint64_t{other.raw_size} <= s.raw_pointer
                                : other.raw_pointer >= old_raw_end);
    const bool address_ok = before ? uint64_t{other.virtual_address} + Span(other) <= s.virtual_address
                                   : other.virtual_address >= old_span_end;
    if (!raw_ok || !address_ok)
      throw PeError("section " + other.name + " overlaps or precedes section " + s.name +
                    " out of order");
  }
  const uint64_t new_raw = AlignUp(size, file_alignment_);
  const uint64_t new_span_end = AlignUp(uint64_t{s.virtual_address} + size, section_alignment_);
  if (new_span_end > UINT32_MAX || bytes_.size() - s.raw_size + new_raw > UINT32_MAX)
    throw PeError("the image would exceed 4 GiB");

  std::vector<uint8_t> out;
  out.reserve(bytes_.size() - s.raw_size + (data != nullptr ? new_raw : 0));
  out.insert(out.end(), bytes_.begin(), bytes_.begin() + s.raw_pointer);
  if (data != nullptr) {
    out.insert(out.end(), data->begin(), data->end());
    out.resize(s.raw_pointer + new_raw, 0);
  } else {
    reserved_at_ = s.raw_pointer;
    reserved_size_ = new_raw;
  }
  out.insert(out.end(), bytes_.begin() + old_raw_end, bytes_.end());
  bytes_ = std::move(out);

  const int64_t file_delta = static_cast<int64_t>(new_raw) - s.raw_size;
  if (s.characteristics & kSectionInitializedData)
    Put32(bytes_, optional_ + 8, static_cast<uint32_t>(Get32(bytes_, optional_ + 8) + file_delta));
  s.virtual_size = static_cast<uint32_t>(size);
  s.raw_size = static_cast<uint32_t>(new_raw);
  WriteSectionHeader(index);
  MoveTail(index, old_raw_end, file_delta, static_cast<int64_t>(new_span_end) - old_span_end,
           static_cast<uint32_t>(old_span_end));
}

size_t PeImage::AppendSection(const std::string& name, uint32_t characteristics,
                              const std::vector<uint8_t>& data) {
  RequireWhole();
  const uint32_t header_at = section_table_ + static_cast<uint32_t>(sections_.size()) * kSectionHeaderSize;
  uint64_t first_raw = Get32(bytes_, optional_ + 60);
  uint64_t raw_end = first_raw;
  for (const PeSection& s : sections_) {
    if (!s.raw_size) continue;
    first_raw = std::min<uint64_t>(first_raw, s.raw_pointer);
    raw_end = std::max<uint64_t>(raw_end, uint64_t{s.raw_pointer} + s.raw_size);
  }
  if (header_at + kSectionHeaderSize > first_raw ||
      std::any_of(bytes_.begin() + header_at, bytes_.begin() + header_at + kSectionHeaderSize,
                  [](uint8_t b) { return b != 0; }))
    throw PeError("no room in the headers for another section");
  raw_end = AlignUp(raw_end, file_alignment_);
  const uint64_t new_raw = AlignUp(data.size(), file_alignment_);
  if (raw_end > bytes_.size() || bytes_.size() + new_raw > UINT32_MAX)
    throw PeError("the image would exceed 4 GiB");

  PeSection s;
  s.name = name.substr(0, 8);
  s.virtual_address = NextSectionAddress();
  s.virtual_size = static_cast<uint32_t>(data.size());
  s.raw_pointer = static_cast<uint32_t>(raw_end);
  s.raw_size = static_cast<uint32_t>(new_raw);
  s.characteristics = characteristics;
  std::vector<uint8_t> block(data);
  block.resize(new_raw, 0);
  bytes_.insert(bytes_.begin() + raw_end, block.begin(), block.end());
  sections_.push_back(s);
  Put16(bytes_, pe_ + 6, static_cast<uint16_t>(sections_.size()));
  WriteSectionHeader(sections_.size() - 1);
  if (characteristics & kSectionInitializedData)
    Put32(bytes_, optional_ + 8, static_cast<uint32_t>(Get32(bytes_, optional_ + 8) + new_raw));
  // Nothing maps after the new section; what followed it in the file moves.
  MoveTail(sections_.size() - 1, static_cast<uint32_t>(raw_end), static_cast<int64_t>(new_raw), 0,
           UINT32_MAX);
  return sections_.size() - 1;
}

void PeImage::RemoveCertificate() {
  RequireWhole();
  const PeDirectory certificate = directory(kCertificateDirectory);
  if (!certificate.size) return;
  if (uint64_t{certificate.address} + certificate.size >= bytes_.size() &&
      certificate.address <= bytes_.size())
    bytes_.resize(certificate.address);
  SetDirectory(kCertificateDirectory, {});
}

void PeImage::UpdateChecksum() {
  RequireWhole();
  const size_t at = optional_ + 64;
  Put32(bytes_, at, PeChecksum(bytes_, at));
}

}  // namespace vard::mkpatch
