// Earlier work kept in the output folder: the payload of every entry a build encoded,
// under a key made of the SHA-256 of the mkpatch executable itself (so a rebuilt tool never
// reuses another's output), the entry's kind and the SHA-256 of its old and new content.
// A second build of the same trees copies those payloads instead of encoding them again;
// the self-check still replays the whole patch, so a damaged cache cannot ship.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mkpatch/encode/entry_encoder.h"

namespace vard::mkpatch {

class PayloadCache {
 public:
  // An empty folder, or an executable that cannot be read, disables the cache.
  explicit PayloadCache(std::filesystem::path folder);

  bool enabled() const { return !folder_.empty(); }
  // The key of an entry; `old` is null for an added file; diff_format as the build's.
  std::string Key(const std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                  int diff_format) const;
  // Safe to call from several threads.
  std::optional<EncodedEntry> Find(const std::string& key);
  void Store(const std::string& key, const EncodedEntry& entry);
  // Removes every entry this build did not use or store.
  void Prune();
  // Removes the whole cache (after a failed self-check).
  void Clear();
  size_t reused() const { return reused_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  void MarkUsed(const std::string& key);
  std::filesystem::path folder_;
  std::string tool_;
  std::mutex mutex_;
  std::set<std::string> used_;
  std::atomic<size_t> reused_{0};
};

// SHA-256 as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace vard::mkpatch
