// The patch configuration: the main manifest's header (versions and registry locations).
#pragma once

#include <string>

#include "manifest/resource_view.h"
#include "run/reg_value_ref.h"

namespace vard {

struct PatchConfig {
  std::string from;
  std::string to;
  RegValueRef reg_path;
  RegValueRef reg_version;
  RegValueRef reg_version2;
  RegValueRef reg_language;
};

// Builds the configuration from the main manifest's bytes (bounded by the view's length).
// Raises std::runtime_error "Invalid main_xml" or "Cannot init regvalue from xml".
PatchConfig ParsePatchConfig(ResourceView manifest);

}  // namespace vard
