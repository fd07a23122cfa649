#include "mkpatch/output/resource_folder.h"

#include <fstream>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/text.h"
#include "mkpatch/common/file_io.h"
#include "mkpatch/output/manifest_writer.h"
#include "mkpatch/output/overlay.h"

namespace vard::mkpatch {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  WriteWholeFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A path as a resource-script string: forward slashes, quotes and backslashes escaped.
std::string RcString(const std::filesystem::path& path) {
  std::string out = "\"";
  for (char c : std::filesystem::absolute(path).generic_string()) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A text as a resource-script string literal: quotes doubled, backslashes escaped. The script is read as UTF-8
// (its code page pragma), so other characters stay as they are.
std::string RcText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    if (c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The version resource's texts, in the order both forms list them.
std::vector<std::pair<std::string, std::string>> VersionValues(const Project& project) {
  const VersionInfo& info = project.version_info;
  std::vector<std::pair<std::string, std::string>> values;
  if (!info.studio.empty()) values.emplace_back("CompanyName", info.studio);
  values.emplace_back("FileDescription", info.description);
  values.emplace_back("FileVersion", project.to);
  values.emplace_back("InternalName", "patcher");
  if (!info.copyright.empty()) values.emplace_back("LegalCopyright", info.copyright);
  values.emplace_back("OriginalFilename", "patcher.exe");
  values.emplace_back("ProductName", info.product);
  values.emplace_back("ProductVersion", project.to);
  values.emplace_back("PatchFromVersion", StartingVersionsText(project));
  values.emplace_back("PatchToVersion", project.to);
  values.emplace_back("Comments", "Updates " + info.product + " from " + StartingVersionsText(project) + " to " +
                                      project.to);
  return values;
}

// The version resource as a script: FILEVERSION and PRODUCTVERSION carry the "to" version
// as major,minor,0,0; the texts are in the language-neutral Unicode block.
std::string VersionResource(const Project& project) {
  const int32_t to = ParseVersion(project.to).value_or(0);
  const std::string numbers = std::to_string(to >> 16) + "," + std::to_string(to & 0xFFFF) + ",0,0";
  const auto values = VersionValues(project);
  std::string rc =
      "\n// Version information (what the file's properties show).\n"
      "#pragma code_page(65001)\n"
      "1 VERSIONINFO\n"
      "FILEVERSION " + numbers + "\n"
      "PRODUCTVERSION " + numbers + "\n"
      "FILEFLAGSMASK 0x3f\n"
      "FILEFLAGS 0\n"
      "FILEOS 0x40004\n"   // VOS_NT_WINDOWS32
      "FILETYPE 1\n"       // VFT_APP
      "FILESUBTYPE 0\n"
      "BEGIN\n"
      "  BLOCK \"StringFileInfo\"\n"
      "  BEGIN\n"
      "    BLOCK \"000004b0\"\n"  // neutral language, Unicode
      "    BEGIN\n";
  for (const auto& [name, value] : values)
    rc += "      VALUE " + RcText(name) + ", " + RcText(value) + "\n";
  rc +=
      "    END\n"
      "  END\n"
      "  BLOCK \"VarFileInfo\"\n"
      "  BEGIN\n"
      "    VALUE \"Translation\", 0x0000, 1200\n"
      "  END\n"
      "END\n";
  return rc;
}

// One node of a VS_VERSIONINFO tree: its length, value length and type, the key as
// NUL-terminated UTF-16, then value and children, each on a 4-byte boundary.
class VersionNode {
 public:
  VersionNode(const std::string& key, bool text) {
    Put16(0);  // length, set by Finish
    Put16(0);  // value length
    Put16(text ? 1 : 0);
    PutText(key);
    end_ = bytes_.size();
    Align();
  }
  void SetBinaryValue(const std::vector<uint8_t>& value) {
    SetValueLength(static_cast<uint16_t>(value.size()));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    end_ = bytes_.size();
    Align();
  }
  // A text value's length counts UTF-16 units, its terminating NUL included.
  void SetTextValue(const std::string& value) {
    const size_t start = bytes_.size();
    PutText(value);
    SetValueLength(static_cast<uint16_t>((bytes_.size() - start) / 2));
    end_ = bytes_.size();
    Align();
  }
  void Add(VersionNode child) {
    const std::vector<uint8_t> bytes = child.Finish();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    end_ = bytes_.size();
    Align();
  }
  // The node's bytes; its length leaves out the padding after its last part.
  std::vector<uint8_t> Finish() {
    bytes_.resize(end_);
    bytes_[0] = static_cast<uint8_t>(end_);
    bytes_[1] = static_cast<uint8_t>(end_ >> 8);
    return bytes_;
  }

 private:
  void Put16(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
  }
  void PutText(const std::string& text) {
    for (wchar_t c : vard::Utf8ToWide(text)) Put16(static_cast<uint16_t>(c));
    Put16(0);
  }
  void Align() {
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  void SetValueLength(uint16_t length) {
    bytes_[2] = static_cast<uint8_t>(length);
    bytes_[3] = static_cast<uint8_t>(length >> 8);
  }
  std::vector<uint8_t> bytes_;
  size_t end_ = 0;
};

}  // namespace

std::vector<uint8_t> VersionInfoBytes(const Project& project) {
  const uint32_t to = static_cast<uint32_t>(ParseVersion(project.to).value_or(0));
  std::vector<uint8_t> fixed;
  auto put32 = [&](uint32_t value) {
    for (int i = 0; i < 4; ++i) fixed.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put32(0xFEEF04BD);  // signature
  put32(0x00010000);  // structure version 1.0
  put32(to);          // file version major.minor
  put32(0);           // .0.0
  put32(to);          // product version
  put32(0);
  put32(0x3F);        // flags mask
  put32(0);           // flags
  put32(0x40004);     // VOS_NT_WINDOWS32
  put32(1);           // VFT_APP
  put32(0);           // subtype
  put32(0);           // date
  put32(0);
  VersionNode root("VS_VERSION_INFO", false);
  root.SetBinaryValue(fixed);
  VersionNode strings("StringFileInfo", true);
  VersionNode table("000004b0", true);  // neutral language, Unicode
  for (const auto& [name, value] : VersionValues(project)) {
    VersionNode text(name, true);
    text.SetTextValue(value);
    table.Add(std::move(text));
  }
  strings.Add(std::move(table));
  root.Add(std::move(strings));
  VersionNode variables("VarFileInfo", true);
  VersionNode translation("Translation", false);
  translation.SetBinaryValue({0x00, 0x00, 0xB0, 0x04});  // language 0, code page 1200
  variables.Add(std::move(translation));
  root.Add(std::move(variables));
  return root.Finish();
}

bool IsReservedId(int id) {
  return (id >= 101 && id <= 105) || (id >= 200 && id <= 225) || id == kMainManifestId;
}

std::filesystem::path PayloadPath(const std::filesystem::path& folder, int id) {
  return folder / (std::to_string(id) + ".bin");
}

std::filesystem::path SkinPath(const std::filesystem::path& folder, int id) {
  return folder / (std::to_string(id) + ".png");
}

std::filesystem::path ManifestPath(const std::filesystem::path& folder, int id) {
  return folder / (std::to_string(id) + ".xml");
}

void WriteManifestsAndScript(const PatchPlan& plan, const std::filesystem::path& folder) {
  std::string rc =
      "// Patch data of one mkpatch build: the main manifest, the pack manifests and the\n"
      "// payloads, all \"DATA\" resources.\n";
  WriteText(ManifestPath(folder, kMainManifestId), MainManifestXml(plan));
  rc += std::to_string(kMainManifestId) + " DATA " + RcString(ManifestPath(folder, kMainManifestId)) + "\n";
  std::vector<const PatchPlan*> sets{&plan};
  for (const PatchPlan& other : plan.other_starts) sets.push_back(&other);
  for (const PatchPlan* set : sets) {
    for (const PlannedSection& section : set->sections) {
      for (const PlannedPack& pack : section.packs) {
        WriteText(ManifestPath(folder, pack.id), PackManifestXml(pack));
        rc += std::to_string(pack.id) + " DATA " + RcString(ManifestPath(folder, pack.id)) + "\n";
        // A shared payload is listed once, by the entry that stored it; an overlay payload
        // is not a resource.
        for (int kind = 0; kind < 2; ++kind)
          for (const PlannedFile& file : kind == 0 ? pack.added : pack.updated)
            if (!file.shared && file.overlay_offset < 0)
              rc += std::to_string(file.id) + " DATA " + RcString(PayloadPath(folder, file.id)) + "\n";
      }
    }
  }
  // The icon travels beside the script; the patcher build takes it from there
  // (cmake/PatchData.cmake), since resource 101 is defined by the patcher's own script.
  std::filesystem::remove(folder / kIconName);
  if (!plan.project.skin.icon.empty())
    std::filesystem::copy_file(plan.project.skin.icon, folder / kIconName);
  // The project's skin images are copied beside the script as <id>.png and listed in it;
  // each also defines VARD_PATCH_SKIN_<id>, which keeps the patcher's own image of that id
  // out (src/resources/skins.rc.in).
  const SkinOverrides& skin = plan.project.skin;
  for (const auto& [id, source] : {std::pair{102, skin.splash}, std::pair{103, skin.background},
                                   std::pair{104, skin.item_bar}, std::pair{105, skin.total_bar}}) {
    const std::filesystem::path target = SkinPath(folder, id);
    std::filesystem::remove(target);
    if (source.empty()) continue;
    std::filesystem::copy_file(source, target);
    rc += "#define VARD_PATCH_SKIN_" + std::to_string(id) + "\n" + std::to_string(id) + " DATA " +
          RcString(target) + "\n";
  }
  rc += VersionResource(plan.project);
  WriteText(folder / kRcName, rc);
  WriteOverlayList(OverlayPayloads(plan), folder);
  WriteWholeFile(folder / kVersionName, VersionInfoBytes(plan.project));
}

uint64_t EmbeddedBytes(const std::filesystem::path& folder) {
  std::set<std::filesystem::path> outside{folder / kRcName, folder / kOverlayListName};
  for (const OverlayPayload& p : ReadOverlayList(folder)) outside.insert(PayloadPath(folder, p.id));
  uint64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file() && !outside.count(entry.path())) total += entry.file_size();
  return total;
}

}  // namespace vard::mkpatch
