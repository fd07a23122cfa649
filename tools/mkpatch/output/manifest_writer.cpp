#include "mkpatch/output/manifest_writer.h"

#include <sstream>

namespace vard::mkpatch {

std::string XmlAttribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

void WriteRegistry(std::ostringstream& xml, const char* element, const RegistryLocation& location) {
  xml << "  <" << element << " key=\"" << XmlAttribute(location.key) << "\" value=\""
      << XmlAttribute(location.value) << "\"/>\n";
}

void WriteFile(std::ostringstream& xml, const PlannedFile& file, bool updated) {
  xml << "    <file subpath=\"" << XmlAttribute(file.subpath) << "\"";
  xml << " crc=\"" << file.crc << "\" size=\"" << file.size << "\" id=\"" << file.id
      << "\" comp=\"" << (file.comp ? (file.comp_form == 2 ? 2 : 1) : 0) << "\"";
  if (file.comp) xml << " comp_size=\"" << file.comp_size << "\"";
  if (updated) {
    xml << " crc_org=\"" << file.crc_org << "\" size_org=\"" << file.size_org << "\" diff=\""
        << (file.diff ? file.diff_form : 0) << "\"";
    if (file.diff) xml << " diff_size=\"" << file.diff_size << "\"";
  }
  if (file.overlay_offset >= 0)
    xml << " overlay=\"" << file.overlay_offset << "\" overlay_size=\"" << file.comp_size
        << "\" overlay_crc=\"" << file.payload_crc << "\"";
  xml << "/>\n";
}

void WriteSections(std::ostringstream& xml, const std::vector<PlannedSection>& sections,
                   const std::string& indent) {
  for (const PlannedSection& section : sections) {
    xml << indent << "<language";
    if (!section.name.empty()) xml << " name=\"" << section.name << "\"";
    xml << " required_space=\"" << section.required_space << "\">\n";
    for (const PlannedPack& pack : section.packs)
      xml << indent << "  <pack root=\"" << XmlAttribute(pack.root) << "\" id=\"" << pack.id << "\"/>\n";
    xml << indent << "</language>\n";
  }
}

}  // namespace

std::string MainManifestXml(const PatchPlan& plan) {
  std::ostringstream xml;
  xml << "<!-- languages: english=0x0009 french=0x040c german=0x0007 italian=0x0010 "
         "spanish=0x000a -->\n";
  xml << "<patch>\n";
  xml << "  <version from=\"" << XmlAttribute(plan.project.from) << "\" to=\""
      << XmlAttribute(plan.project.to) << "\"/>\n";
  WriteRegistry(xml, "reg_path", plan.project.reg_path);
  WriteRegistry(xml, "reg_version", plan.project.reg_version);
  WriteRegistry(xml, "reg_version2", plan.project.reg_version2);
  WriteRegistry(xml, "reg_language", plan.project.reg_language);
  WriteSections(xml, plan.sections, "  ");
  // Each further starting version's own sections, which patchers from before several
  // starting versions existed skip as an unknown element.
  for (const PatchPlan& other : plan.other_starts) {
    xml << "  <set from=\"" << XmlAttribute(other.project.from) << "\">\n";
    WriteSections(xml, other.sections, "    ");
    xml << "  </set>\n";
  }
  xml << "</patch>\n";
  return xml.str();
}

std::string PackManifestXml(const PlannedPack& pack) {
  std::ostringstream xml;
  xml << "<patch id=\"" << pack.id << "\">\n";
  xml << "  <added>\n";
  for (const PlannedFile& file : pack.added) WriteFile(xml, file, false);
  xml << "  </added>\n  <updated>\n";
  for (const PlannedFile& file : pack.updated) WriteFile(xml, file, true);
  xml << "  </updated>\n  <deleted>\n";
  for (const PlannedFile& file : pack.deleted)
    xml << "    <file subpath=\"" << XmlAttribute(file.subpath) << "\"/>\n";
  xml << "  </deleted>\n";
  // Patchers that predate folders ignore this element and still apply every file.
  if (!pack.removed_folders.empty() || !pack.created_folders.empty()) {
    xml << "  <folders>\n";
    for (const std::string& subpath : pack.removed_folders)
      xml << "    <remove subpath=\"" << XmlAttribute(subpath) << "\"/>\n";
    for (const std::string& subpath : pack.created_folders)
      xml << "    <create subpath=\"" << XmlAttribute(subpath) << "\"/>\n";
    xml << "  </folders>\n";
  }
  xml << "</patch>\n";
  return xml.str();
}

}  // namespace vard::mkpatch
