#include "mkpatch/patch_builder.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "mkpatch/encode/delta/match_finder.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/entry_encoder.h"
#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/encode/payload_cache.h"
#include "mkpatch/common/progress_bar.h"
#include "engine/crc_text.h"
#include "mkpatch/compare/required_space.h"
#include "mkpatch/output/resource_folder.h"

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

// One payload to make. Ids are given out before any encoding starts, in manifest order, so
// the order in which the threads finish changes nothing in the output.
struct Job {
  PlannedFile* file;
  bool updated;
  std::string label;
  uint64_t size;    // new file
  uint64_t memory;  // estimated peak while encoding
};

// Estimated peak while one file is encoded, beside the encoders' fixed needs (xz and zlib
// state, queues of a few MiB). A whole file: the content and at most two compressed
// streams no larger than it. An update, while the diff is made: both versions, the match
// index, the whole file's zlib stream (within an eighth, beside a split diff) and the diff
// (kept only while smaller than the content); after it, the old version is released and
// the whole file compressed as above.
uint64_t EncodingMemory(uint64_t new_size, uint64_t old_size, bool updated) {
  const uint64_t whole = 3 * new_size;
  if (!updated) return whole + (uint64_t{1} << 20);
  const uint64_t index = old_size <= MatchFinder::kFullIndexLimit ? 4 * old_size : old_size / 2;
  uint64_t diffing = new_size + old_size + index + new_size / 8 + new_size;
  // Pairs up to kBranchTargetsUpTo are split two ways at once (stream_diff_encoder.h): a
  // converted copy of both versions, a second index and the streams of both ways.
  if (new_size <= kBranchTargetsUpTo && old_size <= kBranchTargetsUpTo)
    diffing += old_size + index + 3 * new_size;
  return std::max(whole, diffing) + (uint64_t{1} << 20);
}

// Lets jobs run together while their estimated memory fits in the budget; a job that does
// not fit waits until the others are done, and the largest always runs (alone if need be).
class MemoryGate {
 public:
  explicit MemoryGate(uint64_t budget) : budget_(budget) {}
  void Enter(uint64_t need) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return in_use_ == 0 || in_use_ + need <= budget_; });
    in_use_ += need;
  }
  void Leave(uint64_t need) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      in_use_ -= need;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t budget_, in_use_ = 0;
};

void Encode(const Job& job, const std::filesystem::path& resources, const BuildOptions& options) {
  PlannedFile& file = *job.file;
  Bytes content = ReadWholeFile(file.new_file);
  file.size = content.size();
  file.crc = CrcText(content);
  Bytes old;
  if (job.updated) {
    old = ReadWholeFile(file.old_file);
    file.size_org = old.size();
    file.crc_org = CrcText(old);
  }
  Bytes* old_content = job.updated ? &old : nullptr;
  std::string key;
  std::optional<EncodedEntry> found;
  if (options.cache && options.cache->enabled()) {
    key = options.cache->Key(old_content, content, options.encode.diff_format);
    found = options.cache->Find(key);
  }
  EncodedEntry encoded;
  if (found) {
    encoded = std::move(*found);
  } else {
    encoded = EncodeEntry(old_content, content, job.updated && content.size() >= options.split_size,
                          options.encode);
  }
  if (!found && !key.empty()) options.cache->Store(key, encoded);
  file.comp = encoded.payload.comp;
  file.comp_form = encoded.payload.codec;
  file.comp_size = encoded.payload.data.size();
  file.diff = encoded.diff;
  file.diff_form = encoded.diff_form;
  file.diff_size = encoded.diff_size;
  file.payload_crc = CrcText(encoded.payload.data);
  if (encoded.archive) file.archive_summary = ArchiveSummary(*encoded.archive);
  // Written as a new file: a payload stored earlier under this name may have been a link to
  // a file of the new tree, which must never be written through.
  const std::filesystem::path payload_path = PayloadPath(resources, file.id);
  std::filesystem::remove(payload_path);
  WriteWholeFile(payload_path, encoded.payload.data);
}

// An added file that a sample shows incompressible is copied into the folder as it is, in
// pieces, with its checksum taken on the way (StoreIfIncompressible): most of a game's
// large added files are compressed already, and holding one whole costs more than
// copying it. The payload cache is not asked for it, since keeping a second copy of the
// file costs more than storing it again. False when the file's chunks repeat enough for
// compression to be worth trying: nothing is written then.
bool StoreAdded(const Job& job, const std::filesystem::path& resources) {
  PlannedFile& file = *job.file;
  uint32_t crc = 0;
  if (!StoreIfIncompressible(file.new_file, job.size, PayloadPath(resources, file.id), &crc)) return false;
  file.size = job.size;
  file.crc = ::vard::CrcText(crc);
  file.comp = false;
  file.comp_form = 0;
  file.comp_size = job.size;
  file.diff = false;
  file.diff_form = 0;
  file.diff_size = 0;
  file.payload_crc = file.crc;
  return true;
}

// Holds a job's share of the memory budget while it lives.
class GatePass {
 public:
  GatePass(MemoryGate& gate, uint64_t need) : gate_(gate), need_(need) { gate_.Enter(need_); }
  ~GatePass() { gate_.Leave(need_); }
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;

 private:
  MemoryGate& gate_;
  uint64_t need_;
};

// False when the payloads went beyond options.max_payload_bytes: the jobs not started by
// then are left unencoded (their files keep an empty crc).
bool RunJobs(std::vector<Job>& jobs, const std::filesystem::path& resources, const BuildOptions& options,
             BuildStats& stats) {
  // Largest first: the long jobs start early and the small ones fill the gaps at the end.
  std::stable_sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) { return a.size > b.size; });
  uint64_t total_bytes = 0, largest_need = 0;
  for (const Job& job : jobs) {
    total_bytes += job.size;
    largest_need = std::max(largest_need, job.memory);
  }
  // Small files may run beside the largest one within a fixed allowance.
  constexpr uint64_t kAllowance = uint64_t{256} << 20;
  MemoryGate gate(std::max(largest_need, kAllowance));
  ProgressBar bar("encoding", jobs.size(), total_bytes);
  std::atomic<size_t> next{0};
  std::atomic<uint64_t> payload_bytes{0};
  std::atomic<bool> stop{false};
  std::mutex error_mutex;
  std::exception_ptr error;
  auto work = [&] {
    for (size_t i = next++; i < jobs.size() && !stop; i = next++) {
      const Job& job = jobs[i];
      try {
        bool stored = false;
        if (!job.updated && SampleLooksIncompressible(job.file->new_file, job.size)) {
          // A 1 MiB piece and the chunk set (about 64 bytes for every 8 KiB).
          const GatePass pass(gate, (uint64_t{2} << 20) + job.size / 128);
          stored = StoreAdded(job, resources);
        }
        if (!stored) {
          const GatePass pass(gate, job.memory);
          Encode(job, resources, options);
        }
        if ((payload_bytes += job.file->comp_size) > options.max_payload_bytes) stop = true;
      } catch (...) {
        const std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        stop = true;
      }
      bar.Advance(1, job.size, job.label);
    }
  };
  unsigned threads = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(jobs.size(), 1)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  bar.Finish();
  if (error) std::rethrow_exception(error);
  stats.payload_bytes += payload_bytes;
  return !stop;
}

}  // namespace

namespace {

// Builds one set's sections: its packs and the resource id of every pack manifest and
// payload, in manifest order. In a later set (`keys` not null) an entry whose payload an
// earlier entry already makes from the same content names that payload instead.
void PlanSections(PatchPlan& plan, IdAllocator& ids, BuildStats& stats,
                  std::map<std::string, int>* keys, bool later_set) {
  const Project& project = plan.project;
  // The payload's inputs: the kind and the content of both versions. Equal keys give equal
  // payloads, since encoding depends on nothing else.
  auto key_of = [](const PlannedFile& file, bool updated) {
    const Bytes content = ReadWholeFile(file.new_file);
    std::string key = Sha256Hex(content.data(), content.size());
    if (updated) {
      const Bytes old = ReadWholeFile(file.old_file);
      key = "updated " + Sha256Hex(old.data(), old.size()) + " " + key;
    }
    return key;
  };
  auto give_id = [&](PlannedFile& file, bool updated) {
    if (!keys) {
      file.id = ids.Next();
      return;
    }
    const auto [it, inserted] = keys->emplace(key_of(file, updated), 0);
    if (inserted || !later_set) {
      if (inserted) it->second = file.id = ids.Next();
      else file.id = ids.Next();  // the first set stays laid out as a patch of its own
    } else {
      file.id = it->second;
      file.shared = true;
    }
  };
  for (size_t s = 0; s < project.sections.size(); ++s) {
    PlannedSection section;
    section.name = project.sections[s].name;
    for (size_t p = 0; p < project.sections[s].packs.size(); ++p) {
      const PackSource& source = project.sections[s].packs[p];
      const PackChanges& c = plan.changes[s][p];
      if (!c.deleted_first.empty()) {
        // The patcher applies a pack's additions before its deletions; a file that becomes
        // a folder must be gone before the folder's files arrive, so a pack of its own
        // (same root, earlier in the section) deletes it.
        PlannedPack first;
        first.root = source.root;
        first.id = ids.Next();
        for (const std::string& name : c.deleted_first) {
          PlannedFile file;
          file.subpath = "/" + name;
          file.old_file = source.old_dir / name;
          first.deleted.push_back(std::move(file));
        }
        stats.deleted += first.deleted.size();
        section.packs.push_back(std::move(first));
      }
      PlannedPack pack;
      pack.root = source.root;
      pack.id = ids.Next();
      pack.unchanged = c.unchanged.size();
      stats.unchanged += c.unchanged.size();
      for (const std::string& name : c.added) {
        PlannedFile file;
        file.subpath = "/" + name;
        file.new_file = source.new_dir / name;
        give_id(file, false);
        pack.added.push_back(std::move(file));
      }
      for (const UpdatedFile& names : c.updated) {
        PlannedFile file;
        file.subpath = "/" + names.new_name;
        file.new_file = source.new_dir / names.new_name;
        file.old_file = source.old_dir / names.old_name;
        give_id(file, true);
        pack.updated.push_back(std::move(file));
      }
      for (const std::string& name : c.deleted) {
        PlannedFile file;
        file.subpath = "/" + name;
        file.old_file = source.old_dir / name;
        pack.deleted.push_back(std::move(file));
      }
      for (const std::string& name : c.deleted_folders) pack.removed_folders.push_back("/" + name);
      for (const std::string& name : c.added_folders) pack.created_folders.push_back("/" + name);
      stats.added += pack.added.size();
      stats.updated += pack.updated.size();
      stats.deleted += pack.deleted.size();
      section.packs.push_back(std::move(pack));
    }
    plan.sections.push_back(std::move(section));
  }
}

// Every added and updated file of a set, with whether it is an update.
template <typename Visit>
void ForEachPayloadFile(PatchPlan& plan, Visit visit) {
  for (PlannedSection& section : plan.sections)
    for (PlannedPack& pack : section.packs)
      for (int kind = 0; kind < 2; ++kind)
        for (PlannedFile& file : kind == 0 ? pack.added : pack.updated) visit(file, kind == 1);
}

}  // namespace

PatchPlan PlanPatch(const Project& project, const std::filesystem::path& resources, BuildStats& stats,
                    const BuildOptions& options) {
  // One set per starting version; the first is the plan itself.
  PatchPlan plan;
  plan.project = project;
  plan.other_starts.resize(project.other_from.size());
  for (size_t k = 0; k < plan.other_starts.size(); ++k)
    plan.other_starts[k].project = ProjectFromStart(project, k + 1);
  std::vector<PatchPlan*> sets{&plan};
  for (PatchPlan& other : plan.other_starts) sets.push_back(&other);

  // Stage 1: compare every pack's trees, so that bad names and id shortage are reported
  // before any encoding time is spent.
  size_t resources_needed = 0;
  uint64_t files = 0, bytes = 0;
  for (const LanguageSection& section : project.sections)
    for (const PackSource& pack : section.packs)
      for (const std::string& name : ListTree(pack.new_dir)) {
        files += sets.size();
        bytes += sets.size() * FileSize(pack.new_dir / name);
      }
  ProgressBar bar("comparing", files, bytes);
  for (PatchPlan* set : sets) {
    for (const LanguageSection& section : set->project.sections) {
      set->changes.emplace_back();
      for (const PackSource& pack : section.packs) {
        set->changes.back().push_back(CompareTrees(pack.old_dir, pack.new_dir, &bar));
        const PackChanges& c = set->changes.back().back();
        resources_needed += 1 + c.added.size() + c.updated.size() + (c.deleted_first.empty() ? 0 : 1);
      }
    }
  }
  bar.Finish();
  const size_t available = static_cast<size_t>(kLastId - kFirstFreeId + 1);
  if (resources_needed > available)
    throw InputError("the patch needs " + std::to_string(resources_needed) +
                     " resources (pack manifests and payloads) but 16-bit ids allow only " +
                     std::to_string(available) + " (ids from " + std::to_string(kFirstFreeId) +
                     " to " + std::to_string(kLastId) + ")");

  // Stage 2: the manifests' structure and every resource id, in manifest order, set by set.
  IdAllocator ids;
  std::map<std::string, int> keys;
  const bool several = sets.size() > 1;
  for (size_t k = 0; k < sets.size(); ++k) PlanSections(*sets[k], ids, stats, several ? &keys : nullptr, k > 0);

  // Stage 3: the payloads, on every core. Pointers into the plan stay valid: it no longer
  // grows.
  std::vector<Job> jobs;
  for (PatchPlan* set : sets)
    ForEachPayloadFile(*set, [&](PlannedFile& file, bool updated) {
      if (file.shared) return;
      const uint64_t size = FileSize(file.new_file);
      const uint64_t memory = EncodingMemory(size, updated ? FileSize(file.old_file) : 0, updated);
      jobs.push_back({&file, updated, file.subpath.substr(1), size, memory});
    });
  const bool within_limit = RunJobs(jobs, resources, options, stats);

  // A build stopped at its payload limit shares nothing: payloads are missing.
  if (several && within_limit) {
    // An entry that names another's payload takes what encoding found out about it.
    std::map<int, const PlannedFile*> owners;
    for (PatchPlan* set : sets)
      ForEachPayloadFile(*set, [&](PlannedFile& file, bool) {
        if (!file.shared) owners.emplace(file.id, &file);
      });
    for (PatchPlan* set : sets)
      ForEachPayloadFile(*set, [&](PlannedFile& file, bool) {
        if (!file.shared) return;
        const PlannedFile& owner = *owners.at(file.id);
        file.size = owner.size;
        file.crc = owner.crc;
        file.size_org = owner.size_org;
        file.crc_org = owner.crc_org;
        file.comp = owner.comp;
        file.comp_form = owner.comp_form;
        file.comp_size = owner.comp_size;
        file.diff = owner.diff;
        file.diff_form = owner.diff_form;
        file.diff_size = owner.diff_size;
        file.payload_crc = owner.payload_crc;
        ++stats.shared;
        stats.shared_bytes += file.comp_size;
      });
    // Different inputs may still give the same bytes (the same new file added in one set
    // and replaced whole in another): a later set's payload equal to an earlier one is
    // named instead of stored.
    std::map<std::string, int> stored;
    for (size_t k = 0; k < sets.size(); ++k)
      ForEachPayloadFile(*sets[k], [&](PlannedFile& file, bool) {
        if (file.shared) return;
        const std::filesystem::path path = PayloadPath(resources, file.id);
        const Bytes payload = ReadWholeFile(path);
        const auto [it, inserted] = stored.emplace(Sha256Hex(payload.data(), payload.size()), file.id);
        if (inserted || k == 0) return;
        std::filesystem::remove(path);
        stats.payload_bytes -= payload.size();
        file.id = it->second;
        file.shared = true;
        ++stats.shared;
        stats.shared_bytes += payload.size();
      });
  }

  for (PatchPlan* set : sets)
    for (PlannedSection& section : set->sections) {
      for (const PlannedPack& pack : section.packs) {
        for (int kind = 0; kind < 2; ++kind)
          for (const PlannedFile& file : kind == 0 ? pack.added : pack.updated) {
            stats.bytes_in += file.size;
            if (file.diff) ++stats.diffs;
          }
      }
      section.required_space = RequiredSpace(section);
    }
  if (!within_limit) {
    const std::string message = "the payloads alone exceed " + std::to_string(options.max_payload_bytes) +
                                " bytes, more than --max-patch-bytes allows; build was stopped";
    if (options.on_limit) options.on_limit(plan, message);
    throw InputError(message);
  }
  return plan;
}

}  // namespace vard::mkpatch
