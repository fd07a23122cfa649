// What a build decided, stage by stage: per language section and pack, the files to add,
// update and delete with their sizes, checksums and payload resources. The manifest writer,
// the self-check and the summary read it; nothing in it refers back to the project file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/project/project_file.h"
#include "mkpatch/compare/tree_compare.h"

namespace vard::mkpatch {

struct PlannedFile {
  std::string subpath;  // "/bundles/patch.bundle": below the pack root, leading slash
  std::filesystem::path new_file, old_file;  // sources in the trees (either may be empty)
  uint64_t size = 0, size_org = 0;
  std::string crc, crc_org;
  int id = 0;  // payload resource id (0 for deleted files)
  bool comp = false, diff = false;
  int comp_form = 1, diff_form = 1;  // with comp / diff: 1 zlib / escaped diff, 2 xz / stream diff, 3 archive diff
  uint64_t comp_size = 0;  // payload resource size, compressed or not
  uint64_t diff_size = 0;  // decompressed diff size when diff
  std::string payload_crc;  // CRC-32 text of the payload's bytes as shipped
  // Where the payload lies in the patcher's overlay (offset from the overlay's start), or
  // -1 when it is an embedded resource, as every payload was before patches outgrew the
  // image.
  int64_t overlay_offset = -1;
  // For an archive diff encoded in this build (not taken from the cache): what happened to
  // its entries, as ArchiveSummary says it.
  std::string archive_summary;
  // The payload resource `id` was stored for an earlier entry (of another starting
  // version's set) with the same bytes; this entry only names it.
  bool shared = false;
};

struct PlannedPack {
  std::string root;
  int id = 0;  // pack manifest resource id
  std::vector<PlannedFile> added, updated, deleted;
  // Folders below the root ("/maps/empty"): removed when empty (deepest first), then
  // created, after every file of the run.
  std::vector<std::string> removed_folders, created_folders;
  size_t unchanged = 0;
};

struct PlannedSection {
  std::string name;
  uint64_t required_space = 0;
  std::vector<PlannedPack> packs;
};

struct PatchPlan {
  Project project;
  // Sections and packs in manifest order. A pack whose files become folders is preceded by
  // a pack of the same root that deletes those files first.
  std::vector<PlannedSection> sections;
  // The tree comparison of each project pack ([section][pack] as in the project), which the
  // self-check's model of the installations starts from.
  std::vector<std::vector<PackChanges>> changes;
  // A patcher from several versions: the set of each further starting version
  // (project.other_from, in order), planned as a patch from that version alone (its
  // project's `from` is that version, its packs' old_dir that version's folders). This plan
  // is the set of project.from; a later set's entry names a payload an earlier entry
  // stored when the bytes are the same.
  std::vector<PatchPlan> other_starts;
};

}  // namespace vard::mkpatch
