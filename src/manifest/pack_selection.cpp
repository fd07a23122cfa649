#include "manifest/pack_selection.h"

#include <tinyxml.h>

#include <cstring>
#include <stdexcept>

#include "base/paths.h"
#include "base/text.h"
#include "manifest/pack_manifest.h"
#include "manifest/xml_document.h"

namespace vard {

namespace {

constexpr std::uint16_t kMainManifestId = 5001;

// Installation language DWORD to the name of its language sections. French is known only by
// its full language id; the others by their primary language id alone.
const char* LanguageSectionName(std::uint32_t language) {
  switch (language) {
    case 0x0007: return "german";
    case 0x0009: return "english";
    case 0x000A: return "spanish";
    case 0x0010: return "italian";
    case 0x040C: return "french";
    default: return nullptr;
  }
}

void AppendSection(const TiXmlElement& pack, const char* section, EntryKind kind,
                   const std::wstring& install_root, const std::wstring& pack_root,
                   FileEntryList& list) {
  const TiXmlElement* group = pack.FirstChildElement(section);
  if (group == nullptr) return;
  for (const TiXmlElement* file = group->FirstChildElement("file"); file != nullptr;
       file = file->NextSiblingElement("file")) {
    list.push_back(ParseFileEntry(*file, kind, install_root, pack_root));
  }
}

// A folder element carries a subpath as a file element does and is checked the same way.
void AppendFolders(const TiXmlElement& pack, const std::wstring& install_root,
                   const std::wstring& pack_root, FolderEntryList& folders) {
  const TiXmlElement* group = pack.FirstChildElement("folders");
  if (group == nullptr) return;
  for (const TiXmlElement* element = group->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    const bool remove = std::strcmp(element->Value(), "remove") == 0;
    if (!remove && std::strcmp(element->Value(), "create") != 0) continue;
    const auto entry = ParseFileEntry(*element, EntryKind::Deleted, install_root, pack_root);
    folders.push_back({*entry, remove});
  }
}

void AppendPack(ResourceView bytes, const std::wstring& install_root,
                const std::wstring& pack_root, FileEntryList& list, FolderEntryList* folders) {
  TiXmlDocument document;
  ParseXmlDocument(bytes, document, "Invalid sub patch");
  const TiXmlElement* patch = document.FirstChildElement("patch");
  if (patch == nullptr) throw std::runtime_error("Invalid sub patch");
  // Added before updated before deleted, whatever the order in the document.
  AppendSection(*patch, "added", EntryKind::Added, install_root, pack_root, list);
  AppendSection(*patch, "updated", EntryKind::Updated, install_root, pack_root, list);
  AppendSection(*patch, "deleted", EntryKind::Deleted, install_root, pack_root, list);
  if (folders != nullptr) AppendFolders(*patch, install_root, pack_root, *folders);
}

}  // namespace

std::int64_t SelectFileEntries(std::uint32_t language, const ResourceFetcher& fetch,
                               const std::wstring& install_path, FileEntryList& list,
                               FolderEntryList* folders, std::size_t set) {
  const std::wstring install_root = NormalizePath(install_path, false, false) + L"\\";

  const char* chosen = LanguageSectionName(language);
  if (chosen == nullptr) throw std::runtime_error("Bad language");

  TiXmlDocument main_manifest;
  ParseXmlDocument(fetch(kMainManifestId), main_manifest, "Invalid main_xml");
  const TiXmlElement* patch = main_manifest.FirstChildElement("patch");
  if (patch == nullptr) throw std::runtime_error("Invalid main_xml");
  // The sections of the starting version's set.
  const TiXmlElement* sections = patch;
  for (std::size_t k = 0; k < set && sections != nullptr; ++k) {
    sections = k == 0 ? patch->FirstChildElement("set") : sections->NextSiblingElement("set");
  }
  if (sections == nullptr) throw std::runtime_error("Invalid main_xml");

  // Summed unsigned so that an overflow wraps instead of being undefined; read back signed.
  std::uint64_t total = 0;
  for (const TiXmlElement* section = sections->FirstChildElement("language"); section != nullptr;
       section = section->NextSiblingElement("language")) {
    const char* name = section->Attribute("name");
    if (name != nullptr && std::string(name) != chosen) continue;

    const char* required_space = section->Attribute("required_space");
    if (required_space == nullptr) throw std::runtime_error("Bad patch.xml");
    total += static_cast<std::uint64_t>(ReadManifestNumber(required_space));

    for (const TiXmlElement* pack = section->FirstChildElement("pack"); pack != nullptr;
         pack = pack->NextSiblingElement("pack")) {
      const char* root = pack->Attribute("root");
      const char* id = pack->Attribute("id");
      if (root == nullptr || id == nullptr) throw std::runtime_error("Bad patch.xml");
      if (!IsExactUtf8(root)) throw std::runtime_error("FilePatch");
      const std::wstring pack_root = NormalizeSubPath(Utf8ToWide(root));
      const auto pack_id = static_cast<std::uint16_t>(ReadManifestInt(id));
      AppendPack(fetch(pack_id), install_root, pack_root, list, folders);
    }
  }
  return static_cast<std::int64_t>(total);
}

}  // namespace vard
