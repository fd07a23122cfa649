// mkpatch: the patch builder's command line. `build` turns a project into a resources folder
// and writes it into copies of the two patcher stubs; `embed` writes a resources folder
// into one stub; `preview` draws its windows as PNG files; `diff` and `apply` make and use
// one file's diff as a patch carries it. --diff-format 1 limits both to what every patcher
// reads.
// Exit codes: 0 done, 1 failure (including a failed self-check), 2 bad input.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>

#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/patch_builder.h"
#include "mkpatch/encode/payload_cache.h"
#include "mkpatch/preview/preview.h"
#include "mkpatch/encode/payload_writer.h"
#include "mkpatch/common/progress_bar.h"
#include "mkpatch/project/output_folders.h"
#include "mkpatch/project/project_file.h"
#include "mkpatch/output/patcher_exe.h"
#include "mkpatch/report_hook.h"
#include "mkpatch/output/overlay.h"
#include "mkpatch/output/resource_folder.h"
#include "mkpatch/check/self_check.h"
#include "mkpatch/check/apply_file.h"

namespace fs = std::filesystem;
using namespace vard::mkpatch;

namespace {

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Build(const fs::path& project_file, const fs::path& out, bool resources_only, bool use_cache,
          BuildOptions options, const fs::path& stubs_dir, ReportTargets report) {
  const auto start = std::chrono::steady_clock::now();
  const Project project = LoadProject(project_file);
  CheckOutputFolders(project, out, fs::path());  // no build folder: the stubs are prebuilt
  // The stubs are checked before any encoding, so that a missing one stops the build at once.
  std::vector<Stub> stubs;
  if (!resources_only) {
    const fs::path folder = StubFolder(stubs_dir);
    for (StubArch arch : {StubArch::kWin32, StubArch::kWin64})
      stubs.push_back(LoadStub(StubPath(folder, arch), arch));
  }
  ClaimOutputFolder(out);
  // Built aside and moved into place only after the self-check passed.
  const fs::path staging = out / "resources.new";
  const fs::path resources = out / "resources";
  fs::remove_all(staging);
  fs::create_directories(staging);

  const uint64_t limit = options.max_payload_bytes;  // UINT64_MAX: no cap
  PayloadCache cache(use_cache ? out / ".mkpatch-cache" : fs::path());
  options.cache = &cache;
  BuildStats stats;
  report.out = out;
  BuildFacts facts;
  facts.limit = limit == UINT64_MAX ? 0 : limit;
  facts.diff_format = options.encode.diff_format;
  // A failed build still reports its plan, which shows why it failed.
  auto report_failure = [&](const PatchPlan& plan, const std::string& failure) {
    facts.failure = failure;
    facts.bytes_in = stats.bytes_in;
    facts.warnings = stats.warnings;
    facts.seconds = SecondsSince(start);
    try {
      WriteReports(plan, facts, report);
    } catch (const std::exception& e) {
      std::cerr << "mkpatch: " << e.what() << "\n";
    }
  };
  options.on_limit = [&](const PatchPlan& partial, const std::string& failure) {
    facts.embedded = stats.payload_bytes;
    report_failure(partial, failure);
  };
  PatchPlan plan = PlanPatch(project, staging, stats, options);
  // The patcher's image embeds what the image bound allows: payloads in manifest order
  // while they fit beside the manifests, images and icon; the rest go to the overlay. The
  // manifests grow a little with each overlay payload, so the fit is taken again until it
  // holds.
  const uint64_t image_limit = options.max_image_bytes;
  uint64_t payload_room = image_limit, embedded = 0, overlay = 0;
  for (;;) {
    overlay = PlaceOverlay(plan, payload_room);
    WriteManifestsAndScript(plan, staging);
    embedded = EmbeddedBytes(staging);
    if (embedded <= image_limit) break;
    if (payload_room == 0) {
      fs::remove_all(staging);
      const std::string failure = "the manifests, skin images and icon alone take " + std::to_string(embedded) +
                                  " bytes, more than the " + std::to_string(image_limit) +
                                  " bytes the patcher's image may embed (--max-image-bytes)";
      report_failure(plan, failure);
      throw InputError(failure);
    }
    payload_room -= std::min(payload_room, embedded - image_limit);
  }
  const uint64_t total = embedded + overlay;
  // A signed patcher must stay below 4 GiB (kMaxSignedPatcherBytes); known now, before the
  // self-check and the patchers are written, from the largest stub's image and the data.
  if (!resources_only && !project.sign.certificate.empty()) {
    uint64_t stub_bytes = 0;
    for (const Stub& stub : stubs) stub_bytes = std::max<uint64_t>(stub_bytes, stub.image.bytes().size());
    if (stub_bytes + total + kOverlayTrailerSize + 8 > kMaxSignedPatcherBytes) {
      fs::remove_all(staging);
      const std::string failure = "the patch data takes " + std::to_string(total) + " bytes (" + Megabytes(total) +
                                  "): a signed patcher must stay below 4 GiB, since Authenticode finds its "
                                  "signature by a 32-bit file offset; split the update into smaller patches, "
                                  "or build it without [sign]";
      report_failure(plan, failure);
      throw InputError(failure);
    }
  }
  facts.embedded = total;
  facts.bytes_in = stats.bytes_in;
  facts.warnings = stats.warnings;
  if (total > limit) {
    fs::remove_all(staging);
    const std::string failure = "the patch data takes " + std::to_string(total) + " bytes (" +
                                Megabytes(total) + "), more than the " + std::to_string(limit) +
                                " bytes (" + Megabytes(limit) + ") that --max-patch-bytes allows";
    report_failure(plan, failure);
    throw InputError(failure);
  }

  const CheckResult check = SelfCheck(plan, staging, true);
  facts.checked = true;
  facts.check_entries = check.entries;
  facts.check_decoded = check.decoded;
  facts.check_problems = check.problems;
  if (!check.refused.empty()) {
    for (const auto& r : check.refused) std::cerr << "mkpatch: " << r << "\n";
    fs::remove_all(staging);
    report_failure(plan, "files of the new trees would be deleted by the save removal that follows the patch");
    return 2;
  }
  if (!check.problems.empty()) {
    std::cerr << "mkpatch: self-check failed, no patch written:\n";
    for (const auto& p : check.problems) std::cerr << "  " << p << "\n";
    fs::remove_all(staging);
    cache.Clear();  // in case an entry of it was damaged
    report_failure(plan, "the self-check failed");
    return 1;
  }
  cache.Prune();
  fs::remove_all(resources);
  fs::rename(staging, resources);
  // The script names the files by absolute path: write it again for the final folder.
  WriteManifestsAndScript(plan, resources);

  if (!resources_only) {
    // The two patchers are written and signed at once: each is a copy of the patch data
    // and a signature's hash over all of it, so with a core for each the pair takes the
    // time of one.
    auto make = [&](StubArch arch) {
      const fs::path exe = out / ("patcher-" + std::string(ArchName(arch)) + ".exe");
      WritePatcherExe(stubs[arch == StubArch::kWin32 ? 0 : 1], resources, exe);
      if (!project.sign.certificate.empty()) SignPatcher(exe, project.sign, project.version_info.product);
    };
    std::future<void> win32 = std::async(std::launch::async, make, StubArch::kWin32);
    std::exception_ptr failure;
    try {
      make(StubArch::kWin64);
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      win32.get();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
  }
  facts.patchers = resources_only                    ? PatcherState::kNotBuilt
                   : project.sign.certificate.empty() ? PatcherState::kUnsigned
                                                      : PatcherState::kSigned;
  facts.seconds = SecondsSince(start);
  WriteReports(plan, facts, report);

  uint64_t manifest_bytes = 0;
  for (const auto& entry : fs::directory_iterator(resources))
    if (entry.path().extension() == ".xml") manifest_bytes += entry.file_size();
  for (const auto& w : stats.warnings) std::cerr << "mkpatch: warning: " << w << "\n";
  for (const PlannedSection& section : plan.sections)
    for (const PlannedPack& pack : section.packs)
      for (const PlannedFile& file : pack.updated)
        if (!file.archive_summary.empty())
          std::printf("%s%s: %s\n", pack.root.c_str(), file.subpath.c_str(), file.archive_summary.c_str());
  std::printf("patch %s -> %s: %zu added, %zu updated (%zu as diffs), %zu deleted, %zu unchanged\n",
              StartingVersionsText(project).c_str(), project.to.c_str(), stats.added, stats.updated,
              stats.diffs, stats.deleted, stats.unchanged);
  if (!project.other_from.empty())
    std::printf("shared payloads: %zu entries of later starting versions name a payload already "
                "stored (%s not stored again)\n",
                stats.shared, Megabytes(stats.shared_bytes).c_str());
  std::printf("bytes in: %s, patch size: %s (payloads %s, %s in the overlay, limit %s), time %.1f s\n",
              Megabytes(stats.bytes_in).c_str(), Megabytes(stats.payload_bytes + manifest_bytes).c_str(),
              Megabytes(stats.payload_bytes).c_str(), Megabytes(overlay).c_str(),
              limit == UINT64_MAX ? "none" : Megabytes(limit).c_str(), SecondsSince(start));
  if (check.starts > 1)
    std::printf("self-check: %zu entries replayed from %zu starting versions in 5 languages (%zu payloads "
                "decoded), final trees equal the new trees\n",
                check.entries, check.starts, check.decoded);
  else
    std::printf("self-check: %zu entries replayed in 5 languages (%zu payloads decoded), final trees equal the new trees\n",
                check.entries, check.decoded);
  if (cache.enabled())
    std::printf("cache: %zu of %zu payloads reused from earlier builds (%s)\n", cache.reused(),
                stats.added + stats.updated, cache.folder().string().c_str());
  std::printf("resources: %s\n", resources.string().c_str());
  std::printf("report: %s\n", (out / "report.html").string().c_str());
  if (!resources_only)
    std::printf("patchers: %s, %s\n", (out / "patcher-win32.exe").string().c_str(),
                (out / "patcher-win64.exe").string().c_str());
  return 0;
}

int Embed(const fs::path& resources, const fs::path& stub_path, const fs::path& exe) {
  // The stub's machine says which it is; LoadStub checks the rest.
  StubArch arch = StubArch::kWin64;
  if (fs::is_regular_file(stub_path)) try {
      if (PeImage(ReadWholeFile(stub_path)).machine() == kMachineI386) arch = StubArch::kWin32;
    } catch (const PeError&) {
    }
  WritePatcherExe(LoadStub(stub_path, arch), resources, exe);
  std::printf("patcher: %s (%s)\n", exe.string().c_str(), ArchName(arch));
  return 0;
}

int Preview(const fs::path& project_file, const fs::path& out, const fs::path& stubs) {
  const Project project = LoadProject(project_file);
  for (const fs::path& file : WritePreview(project, out, stubs)) std::printf("%s\n", file.string().c_str());
  std::printf("texts are not drawn: the patcher renders them with the system's Courier font\n");
  return 0;
}

int Diff(const fs::path& old_path, const fs::path& new_path, const fs::path& diff_path,
         const EncodeOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  const Bytes old = ReadWholeFile(old_path);
  const Bytes neu = ReadWholeFile(new_path);
  const EncodedEntry entry = EncodeDiffEntry(old, neu, options);
  Bytes check;
  const std::string problem = RebuildWithProductCode(entry.payload.codec, entry.diff_form, old,
                                                     entry.payload.data, check, entry.diff_size);
  if (!problem.empty() || check != neu) {
    std::cerr << "mkpatch: internal error: the diff does not rebuild " << new_path.string() << "\n";
    return 1;
  }
  WriteWholeFile(diff_path, entry.payload.data);
  if (entry.archive) std::printf("%s\n", ArchiveSummary(*entry.archive).c_str());
  std::printf("diff: %zu bytes in (old %zu, new %zu), form %d, %zu bytes as shipped%s, time %.2f s\n",
              old.size() + neu.size(), old.size(), neu.size(), entry.diff_form,
              entry.payload.data.size(), entry.payload.comp ? " (zlib)" : "", SecondsSince(start));
  return 0;
}

int Apply(const fs::path& old_path, const fs::path& diff_path, const fs::path& new_path,
          uint64_t max_size) {
  const auto start = std::chrono::steady_clock::now();
  AppliedFile applied;
  const std::string problem = ApplyDiffFile(old_path, diff_path, new_path, applied, max_size);
  if (!problem.empty()) {
    std::cerr << "mkpatch: " << problem << "\n";
    return 2;
  }
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(applied.crc));
  std::printf("apply: wrote %llu bytes (crc %s), form %d, time %.2f s\n",
              static_cast<unsigned long long>(applied.size), crc, applied.form,
              SecondsSince(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"mkpatch: builds game patches for the Vard patcher"};
  app.require_subcommand(1);

  std::string project, out, old_file, new_file, diff_file, stubs_dir, resources_dir, stub_file,
      report_html, report_json;
  bool resources_only = false;
  bool no_cache = false;
  unsigned jobs = 0;
  uint64_t max_patch_bytes = UINT64_MAX;
  uint64_t max_image_bytes = kMaxEmbeddedBytes;
  EncodeOptions encode;
  auto* build = app.add_subcommand(
      "build", "Build a patch: DIR/resources, DIR/patcher-win32.exe and DIR/patcher-win64.exe");
  build->add_option("project", project, "Project file (TOML)")->required();
  build->add_option("--out", out, "Output folder")->required();
  build->add_flag("--resources-only", resources_only,
                  "Write the resources folder only, no executables");
  build->add_flag("--no-cache", no_cache,
                  "Encode every payload anew (by default payloads of earlier builds in DIR/.mkpatch-cache "
                  "are reused when the tool and both files' contents are the same)");
  build->add_option("--jobs,-j", jobs, "Encoding threads (default: one per core)");
  build->add_option("--max-patch-bytes", max_patch_bytes,
                    "Refuse a patch whose data exceeds this many bytes (default: no limit)")
      ->check(CLI::Range(uint64_t{1}, UINT64_MAX));
  build->add_option("--max-image-bytes", max_image_bytes,
                    "Embed at most this many bytes of patch data as resources; payloads beyond go "
                    "after the image, in the patcher's overlay (default and most " +
                        std::to_string(kMaxEmbeddedBytes) + ", what the 32-bit patcher can load)")
      ->check(CLI::Range(uint64_t{1}, kMaxEmbeddedBytes));
  build->add_option("--stubs", stubs_dir,
                    "Folder holding patcher-win32.exe and patcher-win64.exe, the patcher stubs "
                    "(default: share/vard beside the folder of the mkpatch program)");
  build->add_option("--report", report_html,
                    "Also write the build report (a self-contained HTML page, always written to "
                    "DIR/report.html) to this file");
  build->add_option("--json", report_json,
                    "Write the build report's facts as JSON to this file (fields: docs/build-report.md)");
  const char* kFormatHelp =
      "3 (default): archive diffs of zip-format archives, stream diffs and xz payloads "
      "where smaller; 2: no archive diffs; 1: only the escaped diff and zlib, which every "
      "patcher reads";
  build->add_option("--diff-format", encode.diff_format, kFormatHelp)->check(CLI::Range(1, 3));

  auto* embed = app.add_subcommand(
      "embed", "Write a resources folder of `build` into a copy of one patcher stub");
  embed->add_option("resources", resources_dir, "Resources folder (DIR/resources of build)")->required();
  embed->add_option("stub", stub_file, "Patcher stub (patcher-win32.exe or patcher-win64.exe)")->required();
  embed->add_option("exe", out, "Patcher executable to write")->required();

  auto* preview = app.add_subcommand(
      "preview", "Draw the splash and the progress window (start, half-way, done) as PNG files");
  preview->add_option("project", project, "Project file (TOML)")->required();
  preview->add_option("--out", out, "Output folder")->required();
  preview->add_option("--stubs", stubs_dir,
                      "Folder of the patcher stubs, whose skin images stand in for those the "
                      "project does not bring (default as for build)");

  auto* diff = app.add_subcommand(
      "diff", "Write the diff that turns OLD into NEW, as a patch would carry it");
  diff->add_option("--diff-format", encode.diff_format, kFormatHelp)->check(CLI::Range(1, 3));
  diff->add_option("old", old_file, "Old file")->required();
  diff->add_option("new", new_file, "New file")->required();
  diff->add_option("diff", diff_file, "Diff file to write")->required();

  auto* apply = app.add_subcommand(
      "apply", "Rebuild NEW from OLD and a diff of any form as `diff` writes it");
  apply->add_option("old", old_file, "Old file")->required();
  apply->add_option("diff", diff_file, "Diff file")->required();
  apply->add_option("new", new_file, "New file to write")->required();
  uint64_t apply_max_size = kNoMaxSize;
  apply->add_option("--max-size", apply_max_size,
                    "Most bytes to rebuild (and to inflate a compressed diff to); a diff that "
                    "rebuilds more fails with exit code 2 and leaves no NEW. Without it, "
                    "the size a form 2 or 3 diff states, or 4 GiB - 1 for form 1")
      ->check(CLI::PositiveNumber);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }

  try {
    if (*build) {
      BuildOptions options;
      options.jobs = jobs;
      options.max_payload_bytes = max_patch_bytes;
      options.max_image_bytes = max_image_bytes;
      options.encode = encode;
      return Build(project, out, resources_only, !no_cache, options, stubs_dir,
                   {fs::path(), report_html, report_json, stubs_dir});
    }
    if (*embed) return Embed(resources_dir, stub_file, out);
    if (*preview) return Preview(project, out, stubs_dir);
    if (*diff) return Diff(old_file, new_file, diff_file, encode);
    return Apply(old_file, diff_file, new_file, apply_max_size);
  } catch (const InputError& e) {
    std::cerr << "mkpatch: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "mkpatch: " << e.what() << "\n";
    return 1;
  }
}
