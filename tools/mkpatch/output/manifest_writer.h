// The manifest writer: the main manifest (resource 5001) and one pack manifest per pack, in
// the XML the patcher reads (see docs/manifests.md).
#pragma once

#include <string>

#include "mkpatch/compare/patch_plan.h"

namespace vard::mkpatch {

std::string MainManifestXml(const PatchPlan& plan);
std::string PackManifestXml(const PlannedPack& pack);

// Attribute text with &, <, > and " escaped.
std::string XmlAttribute(const std::string& text);

}  // namespace vard::mkpatch
