#include "manifest/file_entry.h"

#include <cinttypes>
#include <cstdio>

#include "base/paths.h"

namespace vard {

std::wstring TargetPath(const FileEntry& entry) {
  return NormalizePath(entry.install_root + entry.rel_dir + entry.file_name, false, false);
}

std::wstring DisplayName(const FileEntry& entry) {
  return NormalizePath(entry.rel_dir + entry.file_name, false, false);
}

std::int64_t ReadManifestNumber(const std::string& text) {
  long long value = 0;
  if (std::sscanf(text.c_str(), "%lld", &value) != 1) return 0;
  return static_cast<std::int64_t>(value);
}

}  // namespace vard
