// The location of one registry value below HKEY_LOCAL_MACHINE, as the main manifest names
// it. A record with an empty key path or value name is not configured: every operation on
// it is a no-op with the empty result.
#pragma once

#include <string>

namespace vard {

struct RegValueRef {
  std::string key_path;    // UTF-8, backslashes
  std::string value_name;  // UTF-8
  bool Configured() const { return !key_path.empty() && !value_name.empty(); }
};

}  // namespace vard
