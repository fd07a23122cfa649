// A Windows executable (PE32 or PE32+) held as bytes, with what the builder needs to give
// one section new contents or add one: the section table, the data directories, and the
// header fix-ups that keep the file loadable when a section changes size (later sections
// and everything after them in the file move, SizeOfImage, SizeOfInitializedData, the
// directories and the COFF symbol table pointer follow, the checksum is recomputed).
// Every read is bounds-checked; a file that is not a well-formed image throws PeError.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vard::mkpatch {

class PeError : public std::runtime_error {
 public:
  explicit PeError(const std::string& message) : std::runtime_error(message) {}
};

inline constexpr uint16_t kMachineI386 = 0x14C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;  // its "address" is a file offset
inline constexpr int kDebugDirectory = 6;
inline constexpr uint32_t kSectionInitializedData = 0x40;

struct PeSection {
  std::string name;  // the table's 8 bytes without trailing NULs
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t raw_size = 0;
  uint32_t raw_pointer = 0;
  uint32_t characteristics = 0;
};

struct PeDirectory {
  uint32_t address = 0;
  uint32_t size = 0;
};

class PeImage {
 public:
  // Parses the headers and the section table; throws PeError saying what is wrong.
  explicit PeImage(std::vector<uint8_t> bytes);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint16_t machine() const { return machine_; }
  bool is_pe32_plus() const { return pe32_plus_; }
  const std::vector<PeSection>& sections() const { return sections_; }
  uint32_t section_alignment() const { return section_alignment_; }
  uint32_t file_alignment() const { return file_alignment_; }
  uint32_t Field32(size_t offset_in_optional_header) const;

  PeDirectory directory(int index) const;
  void SetDirectory(int index, PeDirectory value);

  // The section whose mapped range holds rva, or -1.
  int SectionAt(uint32_t rva) const;
  // `size` bytes of the file image at rva, all within one section's raw data; throws PeError.
  std::span<const uint8_t> At(uint32_t rva, uint32_t size) const;
  // The address the next appended section would get.
  uint32_t NextSectionAddress() const;

  // Gives section `index` the contents `data` (laid out for the section's address, which
  // stays): its sizes change, and every later section, the bytes after its raw data (later
  // sections, the COFF symbol table, anything appended) and the directories and debug
  // entries that point there move by whole alignment units. Throws PeError for a layout it
  // cannot move safely (a later section that does not lie wholly after this one).
  void ReplaceSection(size_t index, const std::vector<uint8_t>& data);
  // As ReplaceSection for `size` bytes of contents that the caller writes into the file
  // itself, for sections too large to hold in memory: bytes() then leaves the section's
  // raw data out. The file is bytes() up to reserved_at(), the section's contents zero
  // padded to reserved_size(), then the rest of bytes(). Every later change to the image
  // is refused, and the checksum is the writer's to compute.
  void ReserveSection(size_t index, uint64_t size);
  uint64_t reserved_at() const { return reserved_at_; }
  uint64_t reserved_size() const { return reserved_size_; }
  // File offset of the header checksum.
  size_t checksum_offset() const { return optional_ + 64; }
  // Adds a section after the last one (address NextSectionAddress(), raw data after the
  // last section's, moving whatever follows in the file); needs room in the headers.
  size_t AppendSection(const std::string& name, uint32_t characteristics,
                       const std::vector<uint8_t>& data);
  // Removes an Authenticode certificate table (it no longer matches once a section
  // changed); it lies at the end of the file.
  void RemoveCertificate();
  // Sets the header checksum for the current bytes.
  void UpdateChecksum();

 private:
  void Parse();
  void Resize(size_t index, const std::vector<uint8_t>* data, uint64_t size);
  // Index in bytes_ of a file offset outside the reserved section.
  uint64_t Stored(uint64_t file_offset) const;
  void RequireWhole() const;
  void WriteSectionHeader(size_t index);
  // Moves the file bytes from `from` on by `file_delta` and the sections after `after`
  // by `rva_delta`, fixing every field that points into what moved.
  void MoveTail(size_t after, uint32_t from, int64_t file_delta, int64_t rva_delta,
                uint32_t rva_from);

  std::vector<uint8_t> bytes_;
  uint32_t pe_ = 0;        // offset of "PE\0\0"
  uint32_t optional_ = 0;  // offset of the optional header
  uint32_t section_table_ = 0;
  uint32_t directories_ = 0;
  uint32_t directory_count_ = 0;
  uint16_t machine_ = 0;
  bool pe32_plus_ = false;
  uint32_t section_alignment_ = 0, file_alignment_ = 0;
  std::vector<PeSection> sections_;
  uint64_t reserved_at_ = 0, reserved_size_ = 0;
};

// The PE header checksum of `bytes` (the 16-bit folded sum of the file with the checksum
// field taken as zero, plus the file's length), as the loader and signing tools compute it.
uint32_t PeChecksum(std::span<const uint8_t> bytes, size_t checksum_offset);

}  // namespace vard::mkpatch
