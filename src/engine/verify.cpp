#include "engine/verify.h"

#include <memory>
#include <vector>

#include "engine/held_target.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"

namespace vard {

namespace {

// The run's progress nodes live until the process ends (the tree does not own them); this
// store keeps them reachable so that they are released at exit rather than leaked.
std::vector<std::unique_ptr<ProgressNode>>& NodeStore() {
  static std::vector<std::unique_ptr<ProgressNode>> nodes;
  return nodes;
}

ProgressNode* MakeWorkNode(std::int64_t weight, ProgressNode* parent) {
  // Manifest numbers become weights unchanged (a negative text wraps like any 64-bit cast).
  NodeStore().push_back(std::make_unique<ProgressNode>(static_cast<std::uint64_t>(weight), parent));
  return NodeStore().back().get();
}

ProgressNode* MakeLabelledNode(ProgressNode* parent, const std::wstring& label) {
  NodeStore().push_back(std::make_unique<ProgressNode>(parent, label));
  return NodeStore().back().get();
}

}  // namespace

bool VerifyEntry(FileEntry& entry, ProgressNode& root) {
  ProgressNode* node = MakeLabelledNode(&root, DisplayName(entry));
  entry.entry_node = node;

  // A target reached through a link below the installation folder is refused before
  // anything is written, whatever the entry does with it.
  HeldTarget held;
  const TargetHold hold = held.Hold(entry, false);
  if (hold == TargetHold::Refused || hold == TargetHold::Failed) return false;
  const std::wstring& target = held.path();

  const std::int64_t old_size = ReadManifestNumber(entry.size_org);
  const std::int64_t new_size = ReadManifestNumber(entry.size);
  std::uint64_t current_size = 0;

  switch (entry.kind) {
    case EntryKind::Deleted:
      return true;

    case EntryKind::Added:
      if (PathExists(target)) {
        if (!QueryFileSize(target, current_size)) return false;
        entry.checksum_node = MakeWorkNode(static_cast<std::int64_t>(current_size), node);
      }
      entry.payload_node = MakeWorkNode(new_size, node);
      if (entry.comp) entry.copy_node = MakeWorkNode(ReadManifestNumber(entry.comp_size), node);
      return true;

    case EntryKind::Updated: {
      if (!PathExists(target) || !QueryFileSize(target, current_size)) return false;
      const auto current = static_cast<std::int64_t>(current_size);
      if (current == new_size) {
        entry.checksum_node = MakeWorkNode(current, node);
      } else if (current != old_size) {
        return false;
      }
      if (entry.diff) {
        entry.payload_node = MakeWorkNode(ReadManifestNumber(entry.diff_size), node);
        if (entry.comp) entry.copy_node = MakeWorkNode(ReadManifestNumber(entry.comp_size), node);
        entry.diff_node = MakeWorkNode(new_size, node);
      } else {
        entry.payload_node = MakeWorkNode(new_size, node);
        if (entry.comp) entry.copy_node = MakeWorkNode(ReadManifestNumber(entry.comp_size), node);
      }
      return true;
    }
  }
  return false;
}

}  // namespace vard
