// Reads and writes of the installation's registry values below HKEY_LOCAL_MACHINE, at the
// locations the main manifest names. Every call opens the key with full access (so a
// process without administrator rights sees every value as absent), takes the value's bytes
// as text or as a number whatever its registry type, and closes the key before returning.
// None of them reports why it failed. Main thread.
#pragma once

#include <cstdint>
#include <string>

#include "base/reg_value_ref.h"

namespace vard {

// The value's bytes as narrow text (at most 1,024 bytes; a longer value reads as empty),
// up to the first zero byte, with environment references such as %ProgramFiles% expanded
// (into at most 2,048 bytes; a text whose expansion does not fit stays unexpanded).
// Empty when the record is not configured or the key or value cannot be read.
std::string ReadText(const RegValueRef& ref);

// The same through the wide interfaces: at most 1,024 bytes (512 UTF-16 units) of data,
// expansion into at most 2,048 units.
std::wstring ReadWideText(const RegValueRef& ref);

// Reads the value's four bytes into value and returns true. On failure (not configured,
// no key, no value, more than four bytes) returns false and leaves value as it was.
bool ReadDword(const RegValueRef& ref, std::uint32_t& value);

// Replaces a value that already holds a non-empty text (as ReadText sees it) with text as
// REG_SZ. A missing value or one holding an empty text is never created or written: false.
bool WriteText(const RegValueRef& ref, const std::string& text);

}  // namespace vard
