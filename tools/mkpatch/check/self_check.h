// The builder's last stage before output: the whole patch, as written to the resources
// folder, is replayed for every starting version and installation language on a model of
// that version's and language's old installation, in the patcher's order (sections,
// packs, then added, updated and deleted files), with the patcher's own code wherever it has some: manifest parsing and pack
// selection, path joining and name conversion, the zlib inflate loop and the diff decoder.
// The model finds names as Windows does (name_case.h) and follows the patcher's pre-flight
// and application rules for existing, missing, folder and file targets. The tree it ends
// with must equal the new tree byte for byte; a patch that fails is never written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "mkpatch/compare/patch_plan.h"

namespace vard::mkpatch {

struct CheckResult {
  // One line each ("french: local\french\menu.xml: rebuilt file differs from the new
  // file"); empty when every language ends in its new tree.
  std::vector<std::string> problems;
  // Files of the new trees that the patcher would delete after installing them (the save
  // removal's rule), one line each naming the file and the rule: bad input, not a fault of
  // the build.
  std::vector<std::string> refused;
  size_t entries = 0;  // entries replayed, over all languages
  size_t decoded = 0;  // payloads decoded (a payload met again with the same input is not)
  size_t starts = 1;   // starting versions replayed, each in every language
};

CheckResult SelfCheck(const PatchPlan& plan, const std::filesystem::path& resources,
                      bool show_progress = false);

// The patcher's way of turning one entry's payload into the file's new content, the one
// place that dispatches on the entry's attributes: decompressed by its codec (comp_form 1
// zlib, 2 xz, 0 stored), then decoded against the old content when the entry is an update
// carried as a diff (diff_form 1 escaped, 2 stream, 3 archive diff, 0 whole file). False when any step
// fails. `old` may be null for entries that need none.
bool DecodePayload(int comp_form, int diff_form, const std::vector<uint8_t>& payload,
                   const std::vector<uint8_t>* old, std::vector<uint8_t>& out);

// Inflates a whole zlib stream with the patcher's inflate loop (codec 1), or decodes an
// .xz stream with its xz decoder (codec 2); false when it is not one.
bool InflateWithProductCode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out,
                            int codec = 1);

// Decodes a diff of the given form (1 escaped, 2 stream, 3 archive diff) with the patcher's decoder;
// false for a malformed diff.
bool ApplyWithProductCode(const std::vector<uint8_t>& old, const std::vector<uint8_t>& diff,
                          std::vector<uint8_t>& out, int form = 1);

// The one place that turns a payload back into the new file the way the patcher does,
// given the entry's comp and diff attributes (0 for none); old is the installed file
// (read only for diffs); diff_size, unless kAnySize, is the diff's manifest size after
// the codec. Returns a problem text, empty on success.
inline constexpr uint64_t kAnySize = ~uint64_t{0};
std::string RebuildWithProductCode(int comp_form, int diff_form, const std::vector<uint8_t>& old,
                                   const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                                   uint64_t diff_size = kAnySize);

// What `mkpatch apply` reads: a diff as `mkpatch diff` writes it, its form told by its
// first bytes: the stream diff's magic "VDF2" is form 2, the archive diff's "VDF3" form
// 3; a zlib header (0x78 and a valid
// header check) is a compressed form-1 diff; anything else a stored form-1 diff.
std::string RebuildFromShippedDiff(const std::vector<uint8_t>& old,
                                   const std::vector<uint8_t>& shipped, std::vector<uint8_t>& out);

}  // namespace vard::mkpatch
