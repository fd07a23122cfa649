// The one error type for bad input to mkpatch: a missing folder, a broken project file, a
// file name Windows cannot store. main() prints its message and exits with code 2.
#pragma once

#include <stdexcept>
#include <string>

namespace vard::mkpatch {

class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vard::mkpatch
