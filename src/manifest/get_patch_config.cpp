// The process-wide patch configuration, built from the embedded main manifest on first use.
#include <memory>

#include "manifest/data_resource.h"
#include "manifest/patch_config.h"

namespace vard {

namespace {
constexpr std::uint16_t kMainManifestId = 5001;
}  // namespace

const PatchConfig& GetPatchConfig() {
  // Deliberately never destroyed: the record lives until the process exits. A failed
  // build throws before anything is stored, so the next call builds again.
  static PatchConfig* config = nullptr;
  if (config == nullptr) {
    auto built = std::make_unique<PatchConfig>(ParsePatchConfig(LoadDataResource(kMainManifestId)));
    config = built.release();
  }
  return *config;
}

}  // namespace vard
