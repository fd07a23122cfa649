#include "mkpatch/output/overlay.h"

#include <fstream>
#include <map>
#include <sstream>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/output/resource_folder.h"

namespace vard::mkpatch {
namespace {

// Every payload entry in manifest order, the order in which the patcher meets them: the
// first starting version's set, then the others'.
template <typename Plan, typename Visit>
void ForEachPayload(Plan& plan, Visit visit) {
  auto one_set = [&visit](auto& set) {
    for (auto& section : set.sections)
      for (auto& pack : section.packs)
        for (int kind = 0; kind < 2; ++kind)
          for (auto& file : kind == 0 ? pack.added : pack.updated) visit(file);
  };
  one_set(plan);
  for (auto& other : plan.other_starts) one_set(other);
}

}  // namespace

uint64_t PlaceOverlay(PatchPlan& plan, uint64_t embedded_budget) {
  uint64_t embedded = 0, overlay = 0;
  std::map<int, int64_t> placed;  // payload id -> its overlay offset, or -1
  ForEachPayload(plan, [&](PlannedFile& file) {
    if (file.shared) return;  // stored by the entry that owns its id
    if (file.comp_size <= embedded_budget - embedded) {
      embedded += file.comp_size;
      file.overlay_offset = -1;
    } else {
      file.overlay_offset = static_cast<int64_t>(overlay);
      overlay += file.comp_size;
    }
    placed[file.id] = file.overlay_offset;
  });
  // An entry naming another's payload finds it where that one went.
  ForEachPayload(plan, [&](PlannedFile& file) {
    if (!file.shared) return;
    const auto owner = placed.find(file.id);
    file.overlay_offset = owner != placed.end() ? owner->second : -1;
  });
  return overlay;
}

std::vector<OverlayPayload> OverlayPayloads(const PatchPlan& plan) {
  std::vector<OverlayPayload> list;
  ForEachPayload(plan, [&](const PlannedFile& file) {
    if (file.overlay_offset >= 0 && !file.shared)
      list.push_back({static_cast<uint64_t>(file.overlay_offset), file.comp_size, file.id});
  });
  return list;
}

void WriteOverlayList(const std::vector<OverlayPayload>& list, const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / kOverlayListName;
  if (list.empty()) {
    std::filesystem::remove(path);
    return;
  }
  std::string text;
  for (const OverlayPayload& p : list)
    text += std::to_string(p.offset) + " " + std::to_string(p.size) + " " + std::to_string(p.id) + "\n";
  WriteWholeFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::vector<OverlayPayload> ReadOverlayList(const std::filesystem::path& folder) {
  const std::filesystem::path path = folder / kOverlayListName;
  std::vector<OverlayPayload> list;
  if (!std::filesystem::exists(path)) return list;
  std::ifstream in(path);
  std::string line;
  uint64_t next = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    OverlayPayload p;
    if (!(fields >> p.offset >> p.size >> p.id) || p.offset != next || p.id <= 0 || p.id > 0xFFFF)
      throw InputError(path.string() + ": line \"" + line +
                       "\" is not \"<offset> <size> <id>\" following the previous payload");
    next += p.size;
    list.push_back(p);
  }
  return list;
}

void AppendOverlay(ExeWriter& exe, const std::vector<OverlayPayload>& list,
                   const std::filesystem::path& folder) {
  if (list.empty()) return;
  const uint64_t start = exe.size();
  for (const OverlayPayload& p : list) {
    const std::filesystem::path source = PayloadPath(folder, p.id);
    std::error_code error;
    if (std::filesystem::file_size(source, error) != p.size || error)
      throw InputError(source.string() + " is missing or not of the " + std::to_string(p.size) +
                       " bytes that " + kOverlayListName + " lists");
    exe.Copy(source, p.size);
  }
  std::vector<uint8_t> tail((8 - (exe.size() + kOverlayTrailerSize) % 8) % 8, 0);
  for (int i = 0; i < 8; ++i) tail.push_back(static_cast<uint8_t>(start >> (8 * i)));
  tail.insert(tail.end(), std::begin(kOverlayMagic), std::end(kOverlayMagic));
  exe.Write(tail);
}

}  // namespace vard::mkpatch
