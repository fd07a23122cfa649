// The run's pack selection: the installation language from the registry and the manifests
// from the executable's own resources, handed to the portable selection.
#include "manifest/data_resource.h"
#include "manifest/pack_selection.h"
#include "manifest/patch_config.h"
#include "os/registry.h"

namespace vard {

std::int64_t CollectFileEntries(FileEntryList& list, const PatchConfig& config,
                                const std::wstring& install_path, FolderEntryList* folders,
                                std::size_t set) {
  // A failed read leaves 0, which no language maps to.
  std::uint32_t language = 0;
  ReadDword(config.reg_language, language);
  return SelectFileEntries(language, LoadDataResource, install_path, list, folders, set);
}

}  // namespace vard
