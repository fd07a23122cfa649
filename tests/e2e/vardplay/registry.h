// Prepares and reads back registry values below HKEY_LOCAL_MACHINE for a scenario, in the
// same (64-bit) view that the patcher under test uses.
#pragma once

#include <string>

#include "json.h"
#include "play_script.h"

namespace vardplay {

// Applies one write of the script; false with a description when the registry refuses.
bool ApplyRegistryWrite(const RegistryWrite& write, std::string& error);

// Adds one report object for the value: present, type, raw bytes as hex and, for the text
// types, the text up to the first NUL.
void ReportRegistryValue(const std::wstring& key, const std::wstring& value, JsonWriter& json);

}  // namespace vardplay
