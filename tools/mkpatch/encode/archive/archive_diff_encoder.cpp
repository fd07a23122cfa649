#include "mkpatch/encode/archive/archive_diff_encoder.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "engine/diff/archive_diff.h"
#include "engine/diff/stream_diff.h"
#include "mkpatch/encode/archive/deflate_search.h"
#include "mkpatch/encode/archive/zip_reader.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/delta/zero_runs.h"
#include "mkpatch/encode/payload_writer.h"

namespace vard::mkpatch {
namespace {

std::string FileName(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The old entries an entry's content may be diffed against, found by name, by content
// and by file name.
class Bases {
 public:
  Bases(const std::vector<uint8_t>& archive, const std::vector<ZipEntry>& entries)
      : archive_(archive), entries_(entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      const ZipEntry& e = entries[i];
      if (e.encrypted() || (e.method != 0 && e.method != 8) || e.size > diff::kArchiveBaseLimit)
        continue;
      by_name_.emplace(e.name, i);
      by_content_.emplace(std::make_pair(e.crc, e.size), i);
      by_file_name_.emplace(FileName(e.name), i);
    }
  }

  // The base for a new entry and its content, or none.
  std::optional<size_t> Find(const ZipEntry& entry, std::vector<uint8_t>& content) const {
    for (const std::optional<size_t> index :
         {Lookup(by_name_, entry.name), Lookup(by_content_, std::make_pair(entry.crc, entry.size)),
          Lookup(by_file_name_, FileName(entry.name))}) {
      if (index && ZipEntryContent(archive_.data(), entries_[*index], content)) return index;
    }
    content.clear();
    return std::nullopt;
  }

 private:
  template <typename Map, typename Key>
  static std::optional<size_t> Lookup(const Map& map, const Key& key) {
    const auto it = map.find(key);
    if (it == map.end()) return std::nullopt;
    return it->second;
  }

  const std::vector<uint8_t>& archive_;
  const std::vector<ZipEntry>& entries_;
  std::map<std::string, size_t> by_name_;
  std::map<std::pair<uint32_t, uint64_t>, size_t> by_content_;
  std::map<std::string, size_t> by_file_name_;
};

}  // namespace

std::string ArchiveSummary(const ArchiveReport& r) {
  std::string line = "archive: " + std::to_string(r.entries) + " entries, " + std::to_string(r.rebuilt) +
                     " rebuilt exactly, " + std::to_string(r.unchanged) + " unchanged, " +
                     std::to_string(r.raw) + " carried raw (" + std::to_string(r.raw_bytes) + " bytes)";
  if (r.search_cut_short) line += "; the settings search reached its bound";
  return line;
}

std::vector<uint8_t> EncodeArchiveDiff(const std::vector<uint8_t>& old, const std::vector<uint8_t>& neu,
                                       ArchiveReport* report, uint64_t limit) {
  ArchiveReport local;
  ArchiveReport& r = report != nullptr ? *report : local;
  r = ArchiveReport{};
  std::vector<ZipEntry> old_entries, new_entries;
  if (!ZlibMatchesBuild() || !ReadZip(old.data(), old.size(), old_entries) ||
      !ReadZip(neu.data(), neu.size(), new_entries)) {
    return {};
  }
  r.entries = new_entries.size();
  const Bases bases(old, old_entries);
  DeflateSearch search(neu.size());

  std::vector<uint8_t> table, commands, differences, extra, skeleton;
  uint64_t copied_to = 0;  // new bytes up to here are in the skeleton
  std::vector<uint8_t> content, base;
  for (const ZipEntry& entry : new_entries) {
    if (entry.method != 8 || entry.encrypted()) continue;
    if (!ZipEntryContent(neu.data(), entry, content)) {
      ++r.raw;
      r.raw_bytes += entry.packed;
      continue;
    }
    const std::optional<size_t> found = bases.Find(entry, base);
    const uint8_t* packed = neu.data() + entry.data_offset;
    if (found) {
      const ZipEntry& b = old_entries[*found];
      if (b.method == 8 && b.packed == entry.packed &&
          std::equal(packed, packed + entry.packed, old.data() + b.data_offset)) {
        ++r.unchanged;
        continue;
      }
    }
    const std::optional<DeflateSettings> settings =
        search.Find(content.data(), content.size(), packed, static_cast<size_t>(entry.packed));
    if (!settings) {
      ++r.raw;
      r.raw_bytes += entry.packed;
      continue;
    }
    ++r.rebuilt;
    diff::ArchiveEntry record;
    record.offset = entry.data_offset;
    record.packed = entry.packed;
    record.size = entry.size;
    record.crc = entry.crc;
    if (found) {
      const ZipEntry& b = old_entries[*found];
      record.base_kind = b.method == 8 ? diff::ArchiveBaseKind::Deflated : diff::ArchiveBaseKind::Stored;
      record.base_offset = b.data_offset;
      record.base_packed = b.packed;
      record.base_size = b.size;
    }
    record.level = settings->level;
    record.mem_level = settings->mem_level;
    record.window_bits = settings->window_bits;
    record.strategy = settings->strategy;
    uint8_t bytes[diff::kArchiveEntryRecordSize];
    diff::PutArchiveEntry(bytes, record);
    table.insert(table.end(), bytes, bytes + sizeof bytes);

    const StreamDiffParts parts = SplitStreamDiff(base.data(), base.size(), content.data(), content.size());
    Append(commands, parts.commands);
    Append(differences, parts.differences);
    Append(extra, parts.extra);
    skeleton.insert(skeleton.end(), neu.begin() + static_cast<ptrdiff_t>(copied_to), neu.begin() + static_cast<ptrdiff_t>(entry.data_offset));
    copied_to = entry.data_offset + entry.packed;
  }
  r.search_cut_short = search.cut_short();
  if (r.rebuilt == 0) return {};
  skeleton.insert(skeleton.end(), neu.begin() + static_cast<ptrdiff_t>(copied_to), neu.end());

  // The differences are mostly zeros: coded as runs they leave xz far fewer bytes to
  // compress and the patcher far fewer to decode. Only one form is compressed, the one
  // with fewer bytes, which is nearly always the smaller once compressed too.
  std::vector<uint8_t> coded;
  ZeroRunCoder coder;
  coder.Code(differences, coded);
  coder.Finish(coded);
  const bool zero_runs = coded.size() < differences.size();
  const std::vector<uint8_t> skeleton_diff = EncodeStreamDiff(old.data(), old.size(), skeleton.data(), skeleton.size());
  const std::vector<uint8_t> streams[5] = {
      skeleton_diff, CompressXz(table, XzKind::Bytes), CompressXz(commands, XzKind::Records),
      CompressXz(zero_runs ? coded : differences, XzKind::Differences), CompressXz(extra, XzKind::Bytes)};
  uint64_t total = diff::kArchiveDiffHeaderSize;
  for (const auto& s : streams) total += s.size();
  if (total >= limit) return {};
  std::vector<uint8_t> out(diff::kArchiveDiffHeaderSize);
  out.reserve(total);
  std::copy(std::begin(diff::kArchiveDiffMagic), std::end(diff::kArchiveDiffMagic), out.begin());
  diff::PutLe64(out.data() + 4, neu.size() | (zero_runs ? uint64_t{diff::kZeroRuns} << 56 : 0));
  for (int i = 0; i < 5; ++i) {
    diff::PutLe64(out.data() + 12 + 8 * i, streams[i].size());
    Append(out, streams[i]);
  }
  return out;
}

}  // namespace vard::mkpatch
