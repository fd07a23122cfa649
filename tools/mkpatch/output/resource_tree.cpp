#include "mkpatch/output/resource_tree.h"


#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"

namespace vard::mkpatch {
namespace {

constexpr uint32_t kSubdirectory = 0x80000000;
constexpr uint32_t kNamed = 0x80000000;
constexpr uint32_t kTableHeader = 16;
constexpr uint32_t kEntry = 8;
constexpr uint32_t kDataEntry = 16;
constexpr uint32_t kDataAlignment = 8;
// Leaves a directory may reach: far beyond any real executable, and a bound on a directory
// whose tables point at each other many times over.
constexpr size_t kMaxLeaves = 1 << 20;

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

class DirectoryReader {
 public:
  DirectoryReader(const PeImage& image, std::span<const uint8_t> section)
      : image_(image), section_(section) {}

  ResourceTree Read() {
    ResourceTree tree;
    for (const auto& [type, type_target] : Table(0, 0)) {
      if (!(type_target & kSubdirectory)) throw PeError("a resource type is not a table");
      auto& names = tree[type];
      for (const auto& [name, name_target] : Table(type_target & ~kSubdirectory, 1)) {
        if (!(name_target & kSubdirectory)) throw PeError("a resource name is not a table");
        auto& languages = names[name];
        for (const auto& [language, leaf] : Table(name_target & ~kSubdirectory, 2)) {
          if (language.named || (leaf & kSubdirectory))
            throw PeError("a resource language entry is not a data entry");
          if (++leaves_ > kMaxLeaves) throw PeError("the resource directory has too many entries");
          languages[language.id] = Data(leaf);
        }
      }
    }
    return tree;
  }

 private:
  uint32_t Get32(uint64_t at) const {
    Need(at, 4);
    return uint32_t{section_[at]} | uint32_t{section_[at + 1]} << 8 |
           uint32_t{section_[at + 2]} << 16 | uint32_t{section_[at + 3]} << 24;
  }
  uint16_t Get16(uint64_t at) const {
    Need(at, 2);
    return static_cast<uint16_t>(section_[at] | section_[at + 1] << 8);
  }
  void Need(uint64_t at, uint64_t size) const {
    if (at > section_.size() || size > section_.size() - at)
      throw PeError("the resource directory points past the end of its section");
  }

  ResourceKey Key(uint32_t field) const {
    if (!(field & kNamed)) return ResourceKey::Id(static_cast<uint16_t>(field));
    const uint32_t at = field & ~kNamed;
    const uint16_t length = Get16(at);
    Need(uint64_t{at} + 2, uint64_t{length} * 2);
    ResourceKey key;
    key.named = true;
    for (uint32_t i = 0; i < length; ++i) key.name.push_back(static_cast<char16_t>(Get16(at + 2 + 2 * i)));
    return key;
  }

  std::vector<std::pair<ResourceKey, uint32_t>> Table(uint32_t at, int level) const {
    const uint32_t count = uint32_t{Get16(uint64_t{at} + 12)} + Get16(uint64_t{at} + 14);
    Need(uint64_t{at} + kTableHeader, uint64_t{count} * kEntry);
    std::vector<std::pair<ResourceKey, uint32_t>> entries;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = uint64_t{at} + kTableHeader + uint64_t{i} * kEntry;
      ResourceKey key = Key(Get32(entry));
      for (const auto& [seen, target] : entries)
        if (seen == key)
          throw PeError("resource " + key.ToString() + " appears twice at level " + std::to_string(level));
      entries.emplace_back(std::move(key), Get32(entry + 4));
    }
    return entries;
  }

  ResourceData Data(uint32_t at) const {
    Need(at, kDataEntry);
    const uint32_t rva = Get32(at), size = Get32(uint64_t{at} + 4);
    const std::span<const uint8_t> bytes = image_.At(rva, size);
    return {{bytes.begin(), bytes.end()}, Get32(uint64_t{at} + 8)};
  }

  const PeImage& image_;
  std::span<const uint8_t> section_;
  size_t leaves_ = 0;
};

class SectionWriter {
 public:
  explicit SectionWriter(uint32_t size) : bytes_(size, 0) {}
  void Put16(uint32_t at, uint16_t value) {
    bytes_.at(at) = static_cast<uint8_t>(value);
    bytes_.at(at + 1) = static_cast<uint8_t>(value >> 8);
  }
  void Put32(uint32_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
  }
  void Table(uint32_t at, uint16_t named, uint16_t ids) {
    Put16(at + 12, named);
    Put16(at + 14, ids);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

template <typename Map>
std::pair<uint16_t, uint16_t> Counts(const Map& map) {
  uint16_t named = 0, ids = 0;
  for (const auto& [key, value] : map) ++(key.named ? named : ids);
  return {named, ids};
}

}  // namespace

ResourceData ResourceData::FromFile(std::filesystem::path path, uint64_t size) {
  ResourceData data;
  data.file = std::move(path);
  data.file_size = size;
  return data;
}

ResourceKey ResourceKey::Name(const std::string& ascii) {
  ResourceKey key;
  key.named = true;
  for (char c : ascii) key.name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return key;
}

std::string ResourceKey::ToString() const {
  if (!named) return std::to_string(id);
  std::string text;
  for (char16_t c : name) text += c < 0x80 ? static_cast<char>(c) : '?';
  return text;
}

std::strong_ordering ResourceKey::operator<=>(const ResourceKey& other) const {
  if (named != other.named) return named ? std::strong_ordering::less : std::strong_ordering::greater;
  if (named) return name <=> other.name;
  return id <=> other.id;
}

ResourceTree ReadResources(const PeImage& image) {
  const PeDirectory directory = image.directory(kResourceDirectory);
  if (!directory.address) return {};
  const int index = image.SectionAt(directory.address);
  if (index < 0) throw PeError("the resource directory lies outside every section");
  const PeSection& section = image.sections()[index];
  const uint32_t offset = directory.address - section.virtual_address;
  if (offset >= section.raw_size) throw PeError("the resource directory has no data in the file");
  return DirectoryReader(image, image.At(directory.address, section.raw_size - offset)).Read();
}

SectionContent LayOutResourceSection(const ResourceTree& tree, uint32_t rva) {
  // Sizes first: the tables (root, then every type's, then every name's), the data
  // entries, the name texts, then the data.
  uint32_t tables = kTableHeader + kEntry * static_cast<uint32_t>(tree.size());
  uint32_t leaves = 0, texts = 0;
  auto text_size = [](const ResourceKey& key) {
    return key.named ? 2 + 2 * static_cast<uint32_t>(key.name.size()) : 0;
  };
  for (const auto& [type, names] : tree) {
    texts += text_size(type);
    tables += kTableHeader + kEntry * static_cast<uint32_t>(names.size());
    for (const auto& [name, languages] : names) {
      texts += text_size(name);
      tables += kTableHeader + kEntry * static_cast<uint32_t>(languages.size());
      leaves += static_cast<uint32_t>(languages.size());
    }
  }
  const uint64_t directory = AlignUp(tables + leaves * kDataEntry + texts, kDataAlignment);
  uint64_t size = directory;
  for (const auto& [type, names] : tree)
    for (const auto& [name, languages] : names)
      for (const auto& [language, data] : languages) size = AlignUp(size, kDataAlignment) + data.size();
  if (size + rva > UINT32_MAX) throw PeError("the resources exceed 4 GiB");

  SectionWriter out(static_cast<uint32_t>(directory));
  uint32_t next_table = kTableHeader + kEntry * static_cast<uint32_t>(tree.size());
  uint32_t next_leaf = tables;
  uint32_t next_text = tables + leaves * kDataEntry;
  // The data, each item aligned, in the order of its entries; the directory goes first.
  SectionContent content;
  content.size = size;
  content.pieces.resize(2);  // the directory's, then the first of the data
  uint64_t end = directory;
  auto bytes_piece = [&content]() -> std::vector<uint8_t>& {
    if (!content.pieces.back().file.empty()) content.pieces.emplace_back();
    return content.pieces.back().bytes;
  };
  auto key_field = [&](const ResourceKey& key) -> uint32_t {
    if (!key.named) return key.id;
    const uint32_t at = next_text;
    out.Put16(at, static_cast<uint16_t>(key.name.size()));
    for (size_t i = 0; i < key.name.size(); ++i)
      out.Put16(at + 2 + 2 * static_cast<uint32_t>(i), static_cast<uint16_t>(key.name[i]));
    next_text += text_size(key);
    return at | kNamed;
  };

  // Tables breadth first: each table's entries point at tables placed after it.
  const auto [type_named, type_ids] = Counts(tree);
  out.Table(0, type_named, type_ids);
  uint32_t entry = kTableHeader;
  std::vector<std::pair<uint32_t, const std::map<ResourceKey, std::map<uint16_t, ResourceData>>*>> type_tables;
  for (const auto& [type, names] : tree) {
    out.Put32(entry, key_field(type));
    out.Put32(entry + 4, next_table | kSubdirectory);
    type_tables.emplace_back(next_table, &names);
    next_table += kTableHeader + kEntry * static_cast<uint32_t>(names.size());
    entry += kEntry;
  }
  std::vector<std::pair<uint32_t, const std::map<uint16_t, ResourceData>*>> name_tables;
  for (const auto& [at, names] : type_tables) {
    const auto [named, ids] = Counts(*names);
    out.Table(at, named, ids);
    uint32_t name_entry = at + kTableHeader;
    for (const auto& [name, languages] : *names) {
      out.Put32(name_entry, key_field(name));
      out.Put32(name_entry + 4, next_table | kSubdirectory);
      name_tables.emplace_back(next_table, &languages);
      next_table += kTableHeader + kEntry * static_cast<uint32_t>(languages.size());
      name_entry += kEntry;
    }
  }
  for (const auto& [at, languages] : name_tables) {
    out.Table(at, 0, static_cast<uint16_t>(languages->size()));
    uint32_t language_entry = at + kTableHeader;
    for (const auto& [language, data] : *languages) {
      out.Put32(language_entry, language);
      out.Put32(language_entry + 4, next_leaf);
      const uint64_t place = AlignUp(end, kDataAlignment);
      out.Put32(next_leaf, static_cast<uint32_t>(rva + place));
      out.Put32(next_leaf + 4, static_cast<uint32_t>(data.size()));
      out.Put32(next_leaf + 8, data.code_page);
      if (place > end) bytes_piece().resize(bytes_piece().size() + (place - end), 0);
      if (data.file.empty()) {
        std::vector<uint8_t>& piece = bytes_piece();
        piece.insert(piece.end(), data.bytes.begin(), data.bytes.end());
      } else {
        SectionPiece piece;
        piece.file = data.file;
        piece.file_size = data.file_size;
        content.pieces.push_back(std::move(piece));
      }
      end = place + data.size();
      next_leaf += kDataEntry;
      language_entry += kEntry;
    }
  }
  content.pieces.front().bytes = out.Take();
  return content;
}

std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t rva) {
  const SectionContent content = LayOutResourceSection(tree, rva);
  std::vector<uint8_t> bytes;
  bytes.reserve(content.size);
  for (const SectionPiece& piece : content.pieces) {
    if (piece.file.empty()) {
      bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
      continue;
    }
    const Bytes data = ReadWholeFile(piece.file);
    if (data.size() != piece.file_size)
      throw InputError(piece.file.string() + " is no longer of its " + std::to_string(piece.file_size) + " bytes");
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  return bytes;
}


void WriteResources(PeImage& image, const ResourceTree& tree) {
  const PeDirectory directory = image.directory(kResourceDirectory);
  const int index = directory.address ? image.SectionAt(directory.address) : -1;
  std::vector<uint8_t> data;
  if (index >= 0 && image.sections()[index].virtual_address == directory.address) {
    data = BuildResourceSection(tree, directory.address);
    image.ReplaceSection(static_cast<size_t>(index), data);
    image.SetDirectory(kResourceDirectory, {directory.address, static_cast<uint32_t>(data.size())});
  } else {
    const uint32_t rva = image.NextSectionAddress();
    data = BuildResourceSection(tree, rva);
    constexpr uint32_t kReadOnlyData = kSectionInitializedData | 0x40000000;
    image.AppendSection(".rsrc", kReadOnlyData, data);
    image.SetDirectory(kResourceDirectory, {rva, static_cast<uint32_t>(data.size())});
  }
  image.UpdateChecksum();
}

SectionContent ReserveResources(PeImage& image, const ResourceTree& tree) {
  const PeDirectory directory = image.directory(kResourceDirectory);
  const int index = directory.address ? image.SectionAt(directory.address) : -1;
  if (index < 0 || image.sections()[index].virtual_address != directory.address) {
    WriteResources(image, tree);
    return {};
  }
  SectionContent content = LayOutResourceSection(tree, directory.address);
  image.ReserveSection(static_cast<size_t>(index), content.size);
  image.SetDirectory(kResourceDirectory, {directory.address, static_cast<uint32_t>(content.size)});
  return content;
}

}  // namespace vard::mkpatch
