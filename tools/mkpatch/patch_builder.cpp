#include "mkpatch/patch_builder.h"

#include "mkpatch/diff_encoder.h"
#include "mkpatch/file_io.h"
#include "mkpatch/input_error.h"
#include "mkpatch/payload_writer.h"
#include "mkpatch/progress_bar.h"
#include "mkpatch/required_space.h"
#include "mkpatch/resource_folder.h"
#include "mkpatch/tree_compare.h"

namespace vard::mkpatch {
namespace {

class IdAllocator {
 public:
  int Next() {
    while (IsReservedId(next_)) ++next_;
    if (next_ > kLastId) throw InputError("too many resources for 16-bit ids");
    return next_++;
  }

 private:
  int next_ = kFirstFreeId;
};

uint64_t FileSize(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) throw InputError("cannot read file: " + path.string());
  return size;
}

void StorePayload(PlannedFile& file, const Payload& payload, const std::filesystem::path& resources,
                  BuildStats& stats) {
  file.comp = payload.comp;
  file.comp_size = payload.data.size();
  WriteWholeFile(PayloadPath(resources, file.id), payload.data);
  stats.payload_bytes += payload.data.size();
}

}  // namespace

PatchPlan PlanPatch(const Project& project, const std::filesystem::path& resources, BuildStats& stats) {
  PatchPlan plan;
  plan.project = project;

  // Stage 1: compare every pack's trees, so that bad names and id shortage are reported
  // before any encoding time is spent.
  std::vector<std::vector<PackChanges>> changes;
  size_t resources_needed = 0;
  uint64_t work = 0;
  for (const LanguageSection& section : project.sections) {
    changes.emplace_back();
    for (const PackSource& pack : section.packs) {
      changes.back().push_back(CompareTrees(pack.old_dir, pack.new_dir));
      const PackChanges& c = changes.back().back();
      resources_needed += 1 + c.added.size() + c.updated.size();
      for (const auto& name : c.added) work += FileSize(pack.new_dir / name);
      for (const auto& file : c.updated) work += FileSize(pack.new_dir / file.new_name);
    }
  }
  const size_t available = static_cast<size_t>(kLastId - kFirstFreeId + 1);
  if (resources_needed > available)
    throw InputError("the patch needs " + std::to_string(resources_needed) +
                     " resources (pack manifests and payloads) but 16-bit ids allow only " +
                     std::to_string(available) + " (ids from " + std::to_string(kFirstFreeId) +
                     " to " + std::to_string(kLastId) + ")");

  // Stage 2: payloads, pack by pack.
  IdAllocator ids;
  ProgressBar bar("encoding", work);
  for (size_t s = 0; s < project.sections.size(); ++s) {
    PlannedSection section;
    section.name = project.sections[s].name;
    for (size_t p = 0; p < project.sections[s].packs.size(); ++p) {
      const PackSource& source = project.sections[s].packs[p];
      const PackChanges& c = changes[s][p];
      PlannedPack pack;
      pack.root = source.root;
      pack.id = ids.Next();
      pack.unchanged = c.unchanged;
      stats.unchanged += c.unchanged;

      for (const std::string& name : c.added) {
        PlannedFile file;
        file.subpath = "/" + name;
        file.new_file = source.new_dir / name;
        const Bytes content = ReadWholeFile(file.new_file);
        file.size = content.size();
        file.crc = CrcText(content);
        file.id = ids.Next();
        StorePayload(file, MakePayload(content), resources, stats);
        if (content.empty())
          stats.warnings.push_back(file.new_file.string() +
                                   ": empty file; the patcher cannot checksum it, so a repeated "
                                   "run stops at it");
        stats.bytes_in += content.size();
        bar.Advance(content.size(), name);
        pack.added.push_back(std::move(file));
      }
      for (const UpdatedFile& names : c.updated) {
        PlannedFile file;
        file.subpath = "/" + names.new_name;
        file.new_file = source.new_dir / names.new_name;
        file.old_file = source.old_dir / names.old_name;
        const Bytes content = ReadWholeFile(file.new_file);
        const Bytes old = ReadWholeFile(file.old_file);
        file.size = content.size();
        file.crc = CrcText(content);
        file.size_org = old.size();
        file.crc_org = CrcText(old);
        file.id = ids.Next();
        // A diff only when its payload is smaller than the whole file's.
        Payload whole = MakePayload(content);
        const std::vector<uint8_t> diff = EncodeDiff(old.data(), old.size(), content.data(), content.size());
        Payload diffed = MakePayload(diff);
        if (diffed.data.size() < whole.data.size()) {
          file.diff = true;
          file.diff_size = diff.size();
          StorePayload(file, diffed, resources, stats);
          ++stats.diffs;
        } else {
          StorePayload(file, whole, resources, stats);
        }
        if (content.empty())
          stats.warnings.push_back(file.new_file.string() +
                                   ": empty file; the patcher cannot checksum it, so a repeated "
                                   "run stops at it");
        stats.bytes_in += content.size();
        bar.Advance(content.size(), names.new_name);
        pack.updated.push_back(std::move(file));
      }
      for (const std::string& name : c.deleted) {
        PlannedFile file;
        file.subpath = "/" + name;
        pack.deleted.push_back(std::move(file));
      }
      stats.added += pack.added.size();
      stats.updated += pack.updated.size();
      stats.deleted += pack.deleted.size();
      section.packs.push_back(std::move(pack));
    }
    section.required_space = RequiredSpace(section);
    plan.sections.push_back(std::move(section));
  }
  bar.Finish();
  return plan;
}

}  // namespace vard::mkpatch
