// A view of an embedded resource's bytes: not owned, not terminated, valid for the life of
// the process (they belong to the loaded executable image). Every reader is bounded by
// length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vard {

struct ResourceView {
  const unsigned char* bytes = nullptr;
  std::size_t length = 0;
};

// Fetches the "DATA" resource of a 16-bit id; raises the resource failures as exceptions.
using ResourceFetcher = std::function<ResourceView(std::uint16_t id)>;

}  // namespace vard
