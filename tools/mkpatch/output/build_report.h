// The build report: why a patch has the size it has. The plan's entries with their payload
// choices, where the bytes go (by pack, by kind, the largest entries), the updates whose
// diffs came out poorly and the likely cause, the size against the limit, the self-check,
// the preview frames, the version information and the signing state, in one record. The
// HTML page (report_html.cpp) and the JSON file (report_json.cpp) are both written from it,
// so they always carry the same facts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/compare/patch_plan.h"

namespace vard::mkpatch {

// One preview frame as a PNG file's bytes.
struct ReportFrame {
  std::string name;     // "splash", "window-start", "window-half", "window-done"
  std::string caption;  // what it shows, for the page
  std::vector<uint8_t> png;
};

enum class PatcherState { kNotBuilt, kUnsigned, kSigned };

// What the build knows beside the plan, gathered by the command line as it goes.
struct BuildFacts {
  std::string failure;  // empty when the patch was written, else why it was not
  uint64_t limit = 0;     // most patch data the studio allows (--max-patch-bytes); 0: none
  uint64_t embedded = 0;  // patch data: payloads (embedded and overlay), manifests, icon and skin images
  uint64_t bytes_in = 0;  // bytes of the new files read
  double seconds = 0;     // build time up to the report
  int diff_format = 2;
  bool checked = false;  // the self-check ran (it does not when the data is over the limit)
  size_t check_entries = 0, check_decoded = 0;
  std::vector<std::string> check_problems;
  PatcherState patchers = PatcherState::kNotBuilt;
  std::vector<ReportFrame> frames;
  std::string frames_error;  // why there are no frames, when there are none
  std::vector<std::string> warnings;
};

enum class EntryKind { kAdded, kUpdatedByDiff, kUpdatedWhole, kDeleted };

struct ReportEntry {
  std::string section;  // language section ("" for every language)
  std::string root;     // pack root as in the main manifest ("" or "local\french")
  std::string subpath;  // "/data/level1.dat", as in the pack manifest
  EntryKind kind = EntryKind::kAdded;
  uint64_t old_size = 0, new_size = 0;  // 0 where the file does not exist on that side
  uint64_t payload = 0;                 // resource bytes; 0 for deleted files
  int resource_id = 0;                  // 0 for deleted files
  int comp = 0;                         // 0 stored, 1 zlib, 2 xz
  int diff = 0;                         // 0 whole file, 1 escaped, 2 stream, 3 archive diff
  std::string archive;                  // archive diffs encoded in this build: ArchiveSummary
  std::filesystem::path new_file;       // source in the new tree (for the poor-diff cause)
};

// An update whose payload is large for what changed: above a tenth of the new file while
// the old file is of similar size (half to twice), or carried whole although an old
// version of similar size exists. Files below kPoorDiffMinSize are not judged.
struct PoorDiff {
  size_t entry = 0;  // index into BuildReport::entries
  std::string cause;  // one or two sentences for the studio
};
inline constexpr uint64_t kPoorDiffMinSize = 64 * 1024;

struct ByteShare {
  std::string label;
  size_t files = 0;
  uint64_t bytes = 0;
};

struct BuildReport {
  Project project;  // versions, version information, signing setup
  BuildFacts facts;
  std::vector<ReportEntry> entries;  // manifest order: sections, packs, added, updated, deleted
  size_t added = 0, updated_by_diff = 0, updated_whole = 0, deleted = 0, unchanged = 0;
  // Added and updated files left out: a build stopped by its payload limit before it made
  // their payloads (the largest are made first).
  size_t not_encoded = 0;
  uint64_t payload_bytes = 0;
  std::vector<ByteShare> by_pack;  // one per section and root, in manifest order
  std::vector<ByteShare> by_kind;  // added, updated by diff, updated whole, manifests and art
  std::vector<size_t> largest;     // entries with the largest payloads, largest first (at most 10)
  std::vector<PoorDiff> poor;      // in manifest order
};

// Gathers the report; reads the first MiB of each poorly diffed new file to tell why.
BuildReport MakeBuildReport(const PatchPlan& plan, BuildFacts facts);

// Why an update came out poorly, from the new file's first bytes (container signatures)
// and how random they look. `whole` when no diff was smaller than the whole file.
std::string PoorDiffCause(const std::vector<uint8_t>& head, bool whole);

// Texts shared by both writers.
const char* KindName(EntryKind kind);  // "added", "updated by diff", ...
std::string FormName(const ReportEntry& entry);   // "whole", "diff 1", "diff 2", "" for deleted
std::string CodecName(const ReportEntry& entry);  // "stored", "zlib", "xz", "" for deleted
std::string PackLabel(const std::string& section, const std::string& root);

std::string ReportHtml(const BuildReport& report);
std::string ReportJson(const BuildReport& report);

// Writes the page to each of html_files and the JSON to json_file (unless empty).
// Throws std::runtime_error naming a file that cannot be written.
void WriteBuildReport(const BuildReport& report, const std::vector<std::filesystem::path>& html_files,
                      const std::filesystem::path& json_file);

}  // namespace vard::mkpatch
