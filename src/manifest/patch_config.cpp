#include "manifest/patch_config.h"

#include <stdexcept>

#include "manifest/xml_document.h"

namespace vard {
namespace {

[[noreturn]] void InvalidMainXml() { throw std::runtime_error("Invalid main_xml"); }

// The first child element of the name, or a failure of the main manifest.
const TiXmlElement* Required(const TiXmlElement& parent, const char* name) {
  const TiXmlElement* element = parent.FirstChildElement(name);
  if (element == nullptr) InvalidMainXml();
  return element;
}

}  // namespace

void RegValueRefFromXml(const TiXmlElement* element, RegValueRef& out) {
  out.key_path.clear();
  out.value_name.clear();
  const char* key = element != nullptr ? element->Attribute("key") : nullptr;
  const char* value = element != nullptr ? element->Attribute("value") : nullptr;
  if (key == nullptr || value == nullptr) {
    throw std::runtime_error("Cannot init regvalue from xml");
  }
  out.key_path = key;
  out.value_name = value;
}

PatchConfig ParsePatchConfig(ResourceView manifest) {
  TiXmlDocument doc;
  ParseXmlDocument(manifest, doc, "Invalid main_xml");
  const TiXmlElement* patch = doc.FirstChildElement("patch");
  if (patch == nullptr) InvalidMainXml();

  PatchConfig config;
  const TiXmlElement* version = Required(*patch, "version");
  const char* from = version->Attribute("from");
  const char* to = version->Attribute("to");
  if (from == nullptr || to == nullptr) InvalidMainXml();
  config.from = from;
  config.to = to;
  RegValueRefFromXml(Required(*patch, "reg_path"), config.reg_path);
  RegValueRefFromXml(Required(*patch, "reg_version"), config.reg_version);
  RegValueRefFromXml(Required(*patch, "reg_version2"), config.reg_version2);
  RegValueRefFromXml(Required(*patch, "reg_language"), config.reg_language);
  for (const TiXmlElement* set = patch->FirstChildElement("set"); set != nullptr;
       set = set->NextSiblingElement("set")) {
    const char* set_from = set->Attribute("from");
    if (set_from == nullptr) InvalidMainXml();
    config.other_from.emplace_back(set_from);
  }
  return config;
}

}  // namespace vard
