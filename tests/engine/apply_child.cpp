// A stand-in for the run's application loop, started by the interruption and full-disk
// tests: applies the entries of apply_run.h to the install folder given as its first
// argument, with the progress nodes pre-flight would make. Exits with 0 when all went
// well and 10 + the first other result otherwise. With a number N as second argument it
// kills itself (TerminateProcess: no cleanup of any kind) just before its N-th file-system
// call; with "count" it exits with 1000 + the number of such calls of a whole run.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/apply.h"
#include "engine/crc_text.h"
#include "manifest/data_resource.h"
#include "manifest/file_entry.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "engine/apply_run.h"
#include "test_support/import_hook.h"

namespace {

using namespace vard;

std::string Resource(std::uint16_t id) {
  const ResourceView view = LoadDataResource(id);
  return std::string(reinterpret_cast<const char*>(view.bytes), view.length);
}

std::string Crc(const std::string& data) {
  return CrcText(Crc32Update(0, reinterpret_cast<const unsigned char*>(data.data()), data.size()));
}

// Every call that changes or opens a file counts; the stop_at-th one never happens.
long calls = 0;
long stop_at = 0;
void Tick() {
  if (++calls == stop_at) TerminateProcess(GetCurrentProcess(), 99);
}

#define VARD_HOOK(dll, name, ret, params, args)                                \
  decltype(&name) real_##name = nullptr;                                       \
  ret WINAPI Hooked##name params {                                             \
    Tick();                                                                    \
    return real_##name args;                                                   \
  }                                                                            \
  void Hook##name() {                                                          \
    real_##name = reinterpret_cast<decltype(&name)>(                           \
        test::HookImport(dll, #name, reinterpret_cast<void*>(&Hooked##name))); \
  }
VARD_HOOK("kernel32.dll", CreateFileW, HANDLE,
          (LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
          (a, b, c, d, e, f, g))
VARD_HOOK("kernel32.dll", WriteFile, BOOL, (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e),
          (a, b, c, d, e))
VARD_HOOK("kernel32.dll", FlushFileBuffers, BOOL, (HANDLE a), (a))
VARD_HOOK("kernel32.dll", MoveFileExW, BOOL, (LPCWSTR a, LPCWSTR b, DWORD c), (a, b, c))
VARD_HOOK("kernel32.dll", DeleteFileW, BOOL, (LPCWSTR a), (a))
VARD_HOOK("kernel32.dll", SetFileAttributesW, BOOL, (LPCWSTR a, DWORD b), (a, b))
VARD_HOOK("kernel32.dll", CreateDirectoryW, BOOL, (LPCWSTR a, LPSECURITY_ATTRIBUTES b), (a, b))
VARD_HOOK("shell32.dll", SHFileOperationW, int, (LPSHFILEOPSTRUCTW a), (a))
#undef VARD_HOOK

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const bool count = argc > 2 && std::wstring(argv[2]) == L"count";
  if (argc > 2 && !count) stop_at = std::wcstol(argv[2], nullptr, 10);
  HookCreateFileW();
  HookWriteFile();
  HookFlushFileBuffers();
  HookMoveFileExW();
  HookDeleteFileW();
  HookSetFileAttributesW();
  HookCreateDirectoryW();
  HookSHFileOperationW();

  const std::wstring root = std::wstring(argv[1]) + L"\\";
  const std::string old_bytes = Resource(1001), new_bytes = Resource(1002);
  FileEntryList entries;
  auto add = [&](EntryKind kind, const std::wstring& dir, const std::wstring& name,
                 std::int32_t id, bool comp, bool diff) {
    auto e = std::make_unique<FileEntry>();
    e->kind = kind;
    e->rel_dir = dir;
    e->file_name = name;
    e->install_root = root;
    e->size_org = std::to_string(old_bytes.size());
    e->crc_org = Crc(old_bytes);
    e->size = std::to_string(new_bytes.size());
    e->crc = Crc(new_bytes);
    e->id = id;
    e->comp = comp;
    e->diff = diff;
    if (diff) e->diff_size = test::DecodedSize(Resource(static_cast<std::uint16_t>(id)), comp);
    entries.push_back(std::move(e));
  };
  add(EntryKind::Added, L"data\\", L"present.bin", 1002, false, false);
  add(EntryKind::Updated, L"data\\", L"file0.bin", 1004, true, true);
  add(EntryKind::Updated, L"data\\", L"file1.bin", 1003, false, true);
  add(EntryKind::Updated, L"data\\", L"file2.bin", 1005, true, false);
  add(EntryKind::Updated, L"data\\", L"file3.bin", 1002, false, false);
  add(EntryKind::Added, L"local\\french\\", L"added.bin", 1005, true, false);
  add(EntryKind::Deleted, L"old\\", L"gone.bin", 0, false, false);

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
  return count ? 1000 + static_cast<int>(calls) : 0;
}
