#include <windows.h>

#include "base/paths.h"
#include "engine/payload.h"
#include "manifest/data_resource.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "os/win_handle.h"

namespace vard {

bool WriteResourceToFile(const std::wstring& target, ProgressNode& node, std::uint16_t id) {
  const ResourceView resource = LoadDataResource(id);
  if (!CreateDirectoryTree(DirectoryPart(target))) return false;
  FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::size_t done = 0;
  while (done < resource.length) {
    const std::size_t left = resource.length - done;
    const DWORD want = static_cast<DWORD>(left > kChunk ? kChunk : left);
    DWORD written = 0;
    if (!WriteFile(file.get(), resource.bytes + done, want, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
    AdvanceProgress(node, done);
  }
  return true;
}

}  // namespace vard
