#include "mkpatch/output/build_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace vard::mkpatch {
namespace {

constexpr size_t kCauseSampleBytes = size_t{1} << 20;
constexpr size_t kLargestShown = 10;

bool StartsWith(const std::vector<uint8_t>& head, const char* magic, size_t size) {
  return head.size() >= size && std::memcmp(head.data(), magic, size) == 0;
}

// The compressed formats a poorly diffed file most often turns out to be, by signature.
const char* ContainerKind(const std::vector<uint8_t>& head) {
  struct Signature {
    const char* magic;
    size_t size;
    const char* kind;
  };
  static const Signature kSignatures[] = {
      {"PK\x03\x04", 4, "zip archive"},      {"\x1f\x8b", 2, "gzip stream"},
      {"7z\xbc\xaf\x27\x1c", 6, "7z archive"}, {"\xfd" "7zXZ\0", 6, "xz stream"},
      {"\x28\xb5\x2f\xfd", 4, "zstd stream"}, {"Rar!", 4, "RAR archive"},
      {"MSCF", 4, "cabinet archive"},        {"BZh", 3, "bzip2 stream"},
      {"\x89PNG", 4, "PNG image"},           {"\xff\xd8\xff", 3, "JPEG image"},
      {"OggS", 4, "Ogg stream"},
  };
  for (const Signature& s : kSignatures)
    if (StartsWith(head, s.magic, s.size)) return s.kind;
  // A bare zlib stream: deflate with a 32 KiB window or less and a valid header check.
  if (head.size() >= 2 && (head[0] & 0x0f) == 8 && (head[0] >> 4) <= 7 &&
      ((head[0] << 8) | head[1]) % 31 == 0)
    return "zlib stream";
  return nullptr;
}

// Bits of information a byte, from the bytes' frequencies: 8 for random data, far less for
// text, code and uncompressed media.
double BitsPerByte(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return 0;
  uint64_t counts[256] = {};
  for (uint8_t b : bytes) ++counts[b];
  double bits = 0;
  for (uint64_t c : counts) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / static_cast<double>(bytes.size());
    bits -= p * std::log2(p);
  }
  return bits;
}

std::vector<uint8_t> ReadHead(const std::filesystem::path& path) {
  std::vector<uint8_t> head(kCauseSampleBytes);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(in ? head.size() : static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return head;
}

uint64_t SizeOrZero(const std::filesystem::path& path) {
  std::error_code ec;
  const uint64_t size = path.empty() ? 0 : std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

bool IsPoor(const ReportEntry& e) {
  if (e.kind != EntryKind::kUpdatedByDiff && e.kind != EntryKind::kUpdatedWhole) return false;
  if (e.new_size < kPoorDiffMinSize) return false;
  const bool similar = e.old_size * 2 >= e.new_size && e.old_size <= e.new_size * 2;
  return similar && e.payload * 10 > e.new_size;
}

ReportEntry Entry(const std::string& section, const std::string& root, const PlannedFile& file,
                  EntryKind kind) {
  ReportEntry e;
  e.section = section;
  e.root = root;
  e.subpath = file.subpath;
  e.kind = kind;
  e.resource_id = file.id;
  e.new_file = file.new_file;
  if (kind == EntryKind::kDeleted) {
    e.old_size = SizeOrZero(file.old_file);
    return e;
  }
  e.new_size = file.size;
  e.old_size = kind == EntryKind::kAdded ? 0 : file.size_org;
  // A payload named by several starting versions' entries counts once, with its first.
  e.payload = file.shared ? 0 : file.comp_size;
  e.comp = file.comp ? file.comp_form : 0;
  e.diff = file.diff ? file.diff_form : 0;
  e.archive = file.archive_summary;
  return e;
}

}  // namespace

std::string PoorDiffCause(const std::vector<uint8_t>& head, bool whole) {
  std::string cause = whole ? "No diff came out smaller than the whole file. " : "";
  char text[160];
  if (const char* kind = ContainerKind(head)) {
    cause += std::string("It starts like a ") + kind +
             ", a compressed container: a small change inside changes its bytes from there "
             "on, so a diff finds little of the old file in it. Patch the files it holds "
             "instead, or store them uncompressed and let the patch compress them.";
    return cause;
  }
  const double bits = BitsPerByte(head);
  if (bits >= 7.5) {
    std::snprintf(text, sizeof text, "Its bytes look random (%.2f bits a byte)", bits);
    cause += std::string(text) +
             ": it is most likely compressed or encrypted, so a small change inside changes "
             "it throughout and no diff can reuse the old file. Ship its content uncompressed "
             "and unencrypted where the game allows, and let the patch compress it.";
    return cause;
  }
  std::snprintf(text, sizeof text, "Its bytes do not look compressed (%.2f bits a byte)", bits);
  cause += std::string(text) +
           ", so much of its content really changed: records rewritten or moved throughout, "
           "or code shifted by a rebuild.";
  return cause;
}

const char* KindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::kAdded: return "added";
    case EntryKind::kUpdatedByDiff: return "updated by diff";
    case EntryKind::kUpdatedWhole: return "updated whole";
    case EntryKind::kDeleted: return "deleted";
  }
  return "";
}

std::string FormName(const ReportEntry& e) {
  if (e.kind == EntryKind::kDeleted) return "";
  return e.diff == 0 ? "whole" : "diff " + std::to_string(e.diff);
}

std::string CodecName(const ReportEntry& e) {
  if (e.kind == EntryKind::kDeleted) return "";
  return e.comp == 1 ? "zlib" : e.comp == 2 ? "xz" : "stored";
}

std::string PackLabel(const std::string& section, const std::string& root) {
  return (section.empty() ? std::string("all languages") : section) + ": " +
         (root.empty() ? std::string("game folder") : root);
}

BuildReport MakeBuildReport(const PatchPlan& plan, BuildFacts facts) {
  BuildReport report;
  report.project = plan.project;
  report.facts = std::move(facts);
  std::map<std::string, size_t> pack_index;
  // With several starting versions, each later set's sections are named after its version.
  std::vector<std::pair<std::string, const PlannedSection*>> sections;
  for (const PlannedSection& section : plan.sections) sections.emplace_back(section.name, &section);
  for (const PatchPlan& other : plan.other_starts)
    for (const PlannedSection& section : other.sections)
      sections.emplace_back("from " + other.project.from + ", " +
                                (section.name.empty() ? std::string("all languages") : section.name),
                            &section);
  for (const auto& [name, planned] : sections) {
    const PlannedSection& section = *planned;
    for (const PlannedPack& pack : section.packs) {
      report.unchanged += pack.unchanged;
      const std::string label = PackLabel(name, pack.root);
      if (!pack_index.count(label)) {
        pack_index[label] = report.by_pack.size();
        report.by_pack.push_back({label, 0, 0});
      }
      ByteShare& share = report.by_pack[pack_index[label]];
      // A payload that was made has the file's checksum; a stopped build leaves the rest out.
      for (const PlannedFile& f : pack.added) {
        if (f.crc.empty()) ++report.not_encoded;
        else report.entries.push_back(Entry(name, pack.root, f, EntryKind::kAdded));
      }
      for (const PlannedFile& f : pack.updated) {
        if (f.crc.empty()) ++report.not_encoded;
        else report.entries.push_back(Entry(name, pack.root, f,
                                            f.diff ? EntryKind::kUpdatedByDiff : EntryKind::kUpdatedWhole));
      }
      for (const PlannedFile& f : pack.deleted) report.entries.push_back(Entry(name, pack.root, f, EntryKind::kDeleted));
      share.files += pack.deleted.size();
      for (const auto* list : {&pack.added, &pack.updated})
        for (const PlannedFile& f : *list)
          if (!f.crc.empty()) {
            ++share.files;
            share.bytes += f.shared ? 0 : f.comp_size;
          }
    }
  }

  ByteShare kinds[3] = {{"added", 0, 0}, {"updated by diff", 0, 0}, {"updated whole", 0, 0}};
  for (size_t i = 0; i < report.entries.size(); ++i) {
    const ReportEntry& e = report.entries[i];
    switch (e.kind) {
      case EntryKind::kAdded: ++report.added; break;
      case EntryKind::kUpdatedByDiff: ++report.updated_by_diff; break;
      case EntryKind::kUpdatedWhole: ++report.updated_whole; break;
      case EntryKind::kDeleted: ++report.deleted; continue;
    }
    ByteShare& share = kinds[static_cast<int>(e.kind)];
    ++share.files;
    share.bytes += e.payload;
    report.payload_bytes += e.payload;
    if (IsPoor(e))
      report.poor.push_back({i, PoorDiffCause(ReadHead(e.new_file),
                                              e.kind == EntryKind::kUpdatedWhole)});
  }
  report.by_kind.assign(std::begin(kinds), std::end(kinds));
  const uint64_t embedded = report.facts.embedded;
  report.by_kind.push_back(
      {"manifests and art", 0, embedded > report.payload_bytes ? embedded - report.payload_bytes : 0});

  for (size_t i = 0; i < report.entries.size(); ++i)
    if (report.entries[i].payload > 0) report.largest.push_back(i);
  std::stable_sort(report.largest.begin(), report.largest.end(), [&](size_t a, size_t b) {
    return report.entries[a].payload > report.entries[b].payload;
  });
  if (report.largest.size() > kLargestShown) report.largest.resize(kLargestShown);
  return report;
}

void WriteBuildReport(const BuildReport& report, const std::vector<std::filesystem::path>& html_files,
                      const std::filesystem::path& json_file) {
  auto write = [](const std::filesystem::path& path, const std::string& text) {
    if (path.has_parent_path()) {
      std::error_code ec;
      std::filesystem::create_directories(path.parent_path(), ec);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write the build report " + path.string());
  };
  if (!html_files.empty()) {
    const std::string html = ReportHtml(report);
    for (const auto& path : html_files) write(path, html);
  }
  if (!json_file.empty()) write(json_file, ReportJson(report));
}

}  // namespace vard::mkpatch
