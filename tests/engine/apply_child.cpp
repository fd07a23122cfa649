// A stand-in for the run's application loop, started and killed by the interruption test:
// applies a fixed list of entries to the install folder given as its argument, with the
// progress nodes pre-flight would make, and exits with 0 when all went well, 10 + the
// first other result otherwise. Uses the payloads of make_apply_payloads.py.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/apply.h"
#include "engine/crc_text.h"
#include "manifest/data_resource.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"

namespace {

using namespace vard;

std::string Resource(std::uint16_t id) {
  const ResourceView view = LoadDataResource(id);
  return std::string(reinterpret_cast<const char*>(view.bytes), view.length);
}

std::string Crc(const std::string& data) {
  return CrcText(Crc32Update(0, reinterpret_cast<const unsigned char*>(data.data()), data.size()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::wstring root = std::wstring(argv[1]) + L"\\";
  const std::string old_bytes = Resource(1001), new_bytes = Resource(1002);
  FileEntryList entries;
  auto add = [&](EntryKind kind, const std::wstring& dir, const std::wstring& name) -> FileEntry& {
    auto e = std::make_unique<FileEntry>();
    e->kind = kind;
    e->rel_dir = dir;
    e->file_name = name;
    e->install_root = root;
    e->size_org = std::to_string(old_bytes.size());
    e->crc_org = Crc(old_bytes);
    e->size = std::to_string(new_bytes.size());
    e->crc = Crc(new_bytes);
    e->comp = true;
    entries.push_back(std::move(e));
    return *entries.back();
  };
  for (int i = 0; i < 12; ++i) {
    FileEntry& e = add(EntryKind::Updated, L"data\\", L"file" + std::to_wstring(i) + L".bin");
    e.id = i % 3 == 2 ? 1005 : 1004;  // mostly diffs, some whole files
    e.diff = i % 3 != 2;
  }
  for (int i = 0; i < 3; ++i) {
    add(EntryKind::Added, L"local\\french\\", L"added" + std::to_wstring(i) + L".bin").id = 1005;
    add(EntryKind::Deleted, L"old\\", L"gone" + std::to_wstring(i) + L".bin");
  }

  // The nodes pre-flight would make: a checksum wherever the file may already be new.
  std::vector<std::unique_ptr<ProgressNode>> nodes;
  ProgressNode tree_root(nullptr, L"");
  for (auto& e : entries) {
    nodes.push_back(std::make_unique<ProgressNode>(&tree_root, DisplayName(*e)));
    e->entry_node = nodes.back().get();
    std::uint64_t size = 0;
    const bool present = QueryFileSize(TargetPath(*e), size);
    if ((e->kind == EntryKind::Added && present) ||
        (e->kind == EntryKind::Updated && size == new_bytes.size())) {
      nodes.push_back(std::make_unique<ProgressNode>(size, e->entry_node));
      e->checksum_node = nodes.back().get();
    }
  }
  for (auto& e : entries) {
    const ApplyResult result = ApplyEntry(*e);
    if (result != ApplyResult::Ok) return 10 + static_cast<int>(result);
  }
  return 0;
}
