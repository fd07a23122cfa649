#include <windows.h>

#include "base/paths.h"
#include "engine/diff/buffered_writer.h"
#include "engine/payload.h"
#include "manifest/data_resource.h"
#include "model/progress_tree.h"
#include "os/files.h"
#include "os/win_handle.h"

namespace vard {

bool WriteResourceToFile(const std::wstring& target, ProgressNode& node, std::uint16_t id,
                         std::uint32_t* crc) {
  const ResourceView resource = LoadDataResource(id);
  if (!CreateDirectoryTree(DirectoryPart(target))) return false;
  // Whole 1 MiB blocks go straight from the mapped resource to the file.
  BufferedWriter out;
  if (!out.Open(target, &node)) return false;
  const bool written = out.Write(resource.bytes, resource.length);
  const bool closed = out.Close();
  if (crc != nullptr) *crc = out.crc();
  return written && closed;
}

}  // namespace vard
