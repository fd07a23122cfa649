// The resources of a Windows executable as a tree (type, name, language), read from and
// written to the resource section. The writer lays the directory out the way the loader
// searches it: in every table the named entries come first, sorted by their UTF-16 code
// units, then the numbered ones in ascending order; the data follows the directory.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mkpatch/output/pe_image.h"

namespace vard::mkpatch {

inline constexpr uint16_t kTypeIcon = 3;
inline constexpr uint16_t kTypeGroupIcon = 14;
inline constexpr uint16_t kTypeVersion = 16;
inline constexpr uint16_t kTypeManifest = 24;

// A type or a name: a 16-bit number, or a text. Named keys order before numbered ones.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;

  static ResourceKey Id(uint16_t id) { return {false, id, {}}; }
  static ResourceKey Name(const std::string& ascii);
  std::string ToString() const;  // "24", or the name in ASCII
  std::strong_ordering operator<=>(const ResourceKey& other) const;
  bool operator==(const ResourceKey& other) const = default;
};

struct ResourceData {
  std::vector<uint8_t> bytes;
  uint32_t code_page = 0;
  // When set, the data is this file's `file_size` bytes (a payload of the patch), read only
  // as the section is written, and `bytes` stays empty.
  std::filesystem::path file;
  uint64_t file_size = 0;

  ResourceData() = default;
  ResourceData(std::vector<uint8_t> data, uint32_t page) : bytes(std::move(data)), code_page(page) {}
  static ResourceData FromFile(std::filesystem::path path, uint64_t size);
  uint64_t size() const { return file.empty() ? bytes.size() : file_size; }
  bool operator==(const ResourceData& other) const = default;
};

// type -> name -> language -> data
using ResourceTree = std::map<ResourceKey, std::map<ResourceKey, std::map<uint16_t, ResourceData>>>;

// The resources of an image (data directory 2; empty when it has none). Throws PeError for
// a directory that points outside its section, nests deeper than three levels or loops.
ResourceTree ReadResources(const PeImage& image);

// A section's contents laid end to end: bytes held in memory, or a whole file that is read
// only when the section is written.
struct SectionPiece {
  std::vector<uint8_t> bytes;
  std::filesystem::path file;  // when set, the piece is this file's file_size bytes
  uint64_t file_size = 0;
};
struct SectionContent {
  std::vector<SectionPiece> pieces;
  uint64_t size = 0;  // of all pieces together
};

// The resource section holding `tree`, for the address `rva` it will be mapped at (data
// entries hold addresses): the directory and in-memory data as bytes, file data as pieces
// of their own, so that a section of any size costs the memory of its directory.
SectionContent LayOutResourceSection(const ResourceTree& tree, uint32_t rva);
// The same section as bytes, file data read in (throws InputError when a file is missing
// or not of its size).
std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t rva);

// Writes `tree` as the image's resources: the section that data directory 2 names is
// replaced when it holds nothing else, otherwise a new ".rsrc" section is appended; data
// directory 2 and the headers follow.
void WriteResources(PeImage& image, const ResourceTree& tree);
// As WriteResources, for a section the caller writes into the file (PeImage::ReserveSection)
// from the returned content. An image whose resources are not a section of their own gets
// its new section in memory, as WriteResources gives it, and the content returned is empty.
SectionContent ReserveResources(PeImage& image, const ResourceTree& tree);

}  // namespace vard::mkpatch
