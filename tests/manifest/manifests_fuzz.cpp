// Fuzz target of the manifest readers, through the calls a run makes: the patch
// configuration from the main manifest, then pack selection over the main manifest and the
// pack manifests. Whatever the bytes, the only failures are the documented ones, and every
// entry selected names a file strictly inside the installation folder.
// Input layout: one byte choosing the installation language, then the main manifest
// (resource 5001), then the pack manifests (resources 5002, 5003, ...), separated by NUL
// bytes. Other resource ids are missing, as in an executable without them.
// Every resource whose shape check passes is also parsed by TinyXML alone, and what it
// built must lie within the bounds the check measured: a text that hides its nesting or
// its attributes from the check would otherwise reach the parser unbounded.
#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "manifest/file_entry.h"
#include "manifest/pack_selection.h"
#include "manifest/patch_config.h"
#include "manifest/xml_document.h"
#include "manifest/xml_shape.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The known languages, near misses and the value of a failed registry read.
constexpr std::uint32_t kLanguages[] = {0x0007, 0x0009, 0x000A, 0x0010,
                                        0x040C, 0x0409, 0x0000, 0xFFFFFFFF};
const std::wstring kInstallRoot = L"C:\\Games\\Vard\\";

bool OneOf(const std::string& text, std::initializer_list<const char*> allowed) {
  for (const char* a : allowed) {
    if (text == a) return true;
  }
  return false;
}

// True when some backslash-separated component is empty or one that Windows resolves to
// the current or parent folder (only dots and spaces, with at least one dot). A component
// of spaces alone names no other folder.
bool HasBadComponent(const std::wstring& path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end == start) return true;
    const std::wstring part = path.substr(start, end - start);
    if (part.find_first_not_of(L". ") == std::wstring::npos && part.find(L'.') != std::wstring::npos) {
      return true;
    }
    if (end == path.size()) return false;
    start = end + 1;
  }
}

void CheckEntry(const vard::FileEntry& entry) {
  const std::wstring target = vard::TargetPath(entry);
  if (target.compare(0, kInstallRoot.size(), kInstallRoot) != 0) std::abort();
  if (target.size() == kInstallRoot.size()) std::abort();
  if (HasBadComponent(target.substr(kInstallRoot.size()))) std::abort();
  if (entry.file_name.empty() || entry.file_name.find_first_of(L"\\/") != std::wstring::npos) {
    std::abort();
  }
  vard::DisplayName(entry);
  // The texts the run reads as numbers later.
  for (const std::string* number : {&entry.size, &entry.size_org, &entry.diff_size, &entry.comp_size}) {
    vard::ReadManifestNumber(*number);
  }
}

// Adds what TinyXML built below node to shape: elements, deepest nesting, most attributes.
void Measure(const TiXmlNode& node, std::size_t depth, vard::XmlShape& shape) {
  for (const TiXmlElement* child = node.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    ++shape.elements;
    shape.depth = std::max(shape.depth, depth + 1);
    std::size_t attributes = 0;
    for (const TiXmlAttribute* a = child->FirstAttribute(); a != nullptr; a = a->Next()) ++attributes;
    shape.attributes = std::max(shape.attributes, attributes);
    Measure(*child, depth + 1, shape);
  }
}

void CheckShapeBounds(vard::ResourceView view) {
  const vard::XmlShape bound = vard::MeasureXmlShape(view.bytes, view.length);
  if (!vard::IsManifestShaped(bound)) return;
  TiXmlDocument document;
  vard::ParseXmlDocument(view, document, "unreachable");
  vard::XmlShape built;
  Measure(document, 0, built);
  if (built.elements > bound.elements || built.depth > bound.depth ||
      built.attributes > bound.attributes) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size == 0) return 0;
  const std::uint32_t language = kLanguages[input[0] % 8];
  // Each resource in a buffer of its own exact size, so that reading past one is caught.
  std::vector<Bytes> resources(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (input[i] == 0) {
      resources.emplace_back();
    } else {
      resources.back().push_back(input[i]);
    }
  }
  auto view = [&](std::size_t index) {
    const Bytes& bytes = resources[index];
    return vard::ResourceView{bytes.empty() ? nullptr : bytes.data(), bytes.size()};
  };

  try {
    vard::ParsePatchConfig(view(0));
  } catch (const std::runtime_error& e) {
    if (!OneOf(e.what(), {"Invalid main_xml", "Cannot init regvalue from xml"})) std::abort();
  }

  for (std::size_t i = 0; i < resources.size(); ++i) CheckShapeBounds(view(i));

  const vard::ResourceFetcher fetch = [&](std::uint16_t id) {
    if (id < 5001 || id - 5001u >= resources.size()) throw std::runtime_error("Cannot find resource");
    return view(id - 5001u);
  };
  vard::FileEntryList list;
  try {
    vard::SelectFileEntries(language, fetch, L"C:\\Games/Vard\\", list);
  } catch (const std::runtime_error& e) {
    if (!OneOf(e.what(), {"Bad language", "Invalid main_xml", "Bad patch.xml", "Invalid sub patch",
                          "FilePatch", "Cannot find resource"})) {
      std::abort();
    }
  }
  for (const auto& entry : list) CheckEntry(*entry);
  return 0;
}
