// The resources of a Windows executable as a tree (type, name, language), read from and
// written to the resource section. The writer lays the directory out the way the loader
// searches it: in every table the named entries come first, sorted by their UTF-16 code
// units, then the numbered ones in ascending order; the data follows the directory.
#pragma once

#include <compare>
#include <cstdint>
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
  bool operator==(const ResourceData& other) const = default;
};

// type -> name -> language -> data
using ResourceTree = std::map<ResourceKey, std::map<ResourceKey, std::map<uint16_t, ResourceData>>>;

// The resources of an image (data directory 2; empty when it has none). Throws PeError for
// a directory that points outside its section, nests deeper than three levels or loops.
ResourceTree ReadResources(const PeImage& image);

// The bytes of a resource section holding `tree`, for the address `rva` it will be
// mapped at (data entries hold addresses).
std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t rva);

// Writes `tree` as the image's resources: the section that data directory 2 names is
// replaced when it holds nothing else, otherwise a new ".rsrc" section is appended; data
// directory 2 and the headers follow.
void WriteResources(PeImage& image, const ResourceTree& tree);

}  // namespace vard::mkpatch
