#include "mkpatch/resource_folder.h"

#include <fstream>
#include <stdexcept>

#include "mkpatch/file_io.h"
#include "mkpatch/manifest_writer.h"

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

}  // namespace

bool IsReservedId(int id) {
  return (id >= 101 && id <= 105) || (id >= 200 && id <= 225) || id == kMainManifestId;
}

std::filesystem::path PayloadPath(const std::filesystem::path& folder, int id) {
  return folder / (std::to_string(id) + ".bin");
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
  for (const PlannedSection& section : plan.sections) {
    for (const PlannedPack& pack : section.packs) {
      WriteText(ManifestPath(folder, pack.id), PackManifestXml(pack));
      rc += std::to_string(pack.id) + " DATA " + RcString(ManifestPath(folder, pack.id)) + "\n";
      for (int kind = 0; kind < 2; ++kind)
        for (const PlannedFile& file : kind == 0 ? pack.added : pack.updated)
          rc += std::to_string(file.id) + " DATA " + RcString(PayloadPath(folder, file.id)) + "\n";
    }
  }
  // The icon travels beside the script; the patcher build takes it from there
  // (cmake/PatchData.cmake), since resource 101 is defined by the patcher's own script.
  std::filesystem::remove(folder / kIconName);
  if (!plan.project.skin.icon.empty())
    std::filesystem::copy_file(plan.project.skin.icon, folder / kIconName);
  WriteText(folder / kRcName, rc);
}

uint64_t EmbeddedBytes(const std::filesystem::path& folder) {
  uint64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().filename() != kRcName) total += entry.file_size();
  return total;
}

}  // namespace vard::mkpatch
