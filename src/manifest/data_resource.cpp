#include "manifest/data_resource.h"

#include <windows.h>

#include <stdexcept>

namespace vard {

ResourceView LoadDataResource(std::uint16_t id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "DATA");
  if (found == nullptr) throw std::runtime_error("Cannot find resource");
  const DWORD length = SizeofResource(module, found);
  if (length == 0) throw std::runtime_error("Cannot get resource length");
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) throw std::runtime_error("Cannot load resource");
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) throw std::runtime_error("Cannot lock resource");
  return ResourceView{static_cast<const unsigned char*>(bytes), length};
}

}  // namespace vard
