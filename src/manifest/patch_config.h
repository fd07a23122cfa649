// The patch configuration: the main manifest's header (versions and registry locations).
#pragma once

#include <string>
#include <vector>

#include "base/reg_value_ref.h"
#include "manifest/resource_view.h"

class TiXmlElement;

namespace vard {

struct PatchConfig {
  std::string from;
  std::string to;
  // A patcher for several starting versions: the "from" text of each "set" element, in
  // document order (set 1, 2, ...; `from` is set 0). Empty for a patch from one version.
  std::vector<std::string> other_from;
  RegValueRef reg_path;
  RegValueRef reg_version;
  RegValueRef reg_version2;
  RegValueRef reg_language;
};

// Builds the configuration from the main manifest's bytes (bounded by the view's length).
// Raises std::runtime_error "Invalid main_xml" or "Cannot init regvalue from xml".
// The first failure in this order is the one raised: no "patch" element, no "version" or
// one without "from" or "to", then "reg_path", "reg_version", "reg_version2" and
// "reg_language" each missing (all "Invalid main_xml") or lacking "key" or "value", then a
// "set" element without "from" ("Invalid main_xml"). Later elements of the same name are
// ignored.
PatchConfig ParsePatchConfig(ResourceView manifest);

// Empties out, then fills it from the element's "key" and "value" attributes. Raises
// "Cannot init regvalue from xml" when the element is null or lacks either attribute.
void RegValueRefFromXml(const TiXmlElement* element, RegValueRef& out);

#ifdef _WIN32
// The process's configuration, built from "DATA" resource 5001 on the first call and kept
// until the process exits. A failed build passes its exception on and stores nothing, so
// a later call tries again. Main thread (built before any other thread exists).
const PatchConfig& GetPatchConfig();
#endif

}  // namespace vard
