// Embeds a scenario's own patch data into a copy of patcher.exe without relinking: the
// "DATA" resources given replace any of the same id (in every language) or are added.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vardplay {

struct DataResource {
  WORD id = 0;
  std::wstring file;  // its bytes become the resource; empty: the resource is removed
};

// Copies `source` to `target` and updates the copy's resources, then reads every written
// resource back through the loader and compares its bytes. False with a description when
// any step fails.
bool SetDataResources(const std::wstring& source, const std::wstring& target,
                      const std::vector<DataResource>& resources, std::string& error);

}  // namespace vardplay
