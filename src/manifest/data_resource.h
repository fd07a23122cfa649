// Access to the executable's own "DATA" resources (manifests and payloads): bytes that
// belong to the loaded image and stay valid for the life of the process.
#pragma once

#include <cstdint>

#include "manifest/resource_view.h"

namespace vard {

// The "DATA" resource of integer name id in the process image. Raises std::runtime_error,
// tested in this order: "Cannot find resource", "Cannot get resource length" (size 0),
// "Cannot load resource", "Cannot lock resource". Any thread.
ResourceView LoadDataResource(std::uint16_t id);

}  // namespace vard
