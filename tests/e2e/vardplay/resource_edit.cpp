#include "resource_edit.h"

#include <fstream>
#include <iterator>

#include "text.h"

namespace vardplay {
namespace {

const wchar_t kType[] = L"DATA";

// A module mapped as data only (nothing of it runs), released by the destructor.
class DataModule {
 public:
  explicit DataModule(const std::wstring& path)
      : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (module_) FreeLibrary(module_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

bool ReadWhole(const std::wstring& path, std::string& bytes) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool SetDataResources(const std::wstring& source, const std::wstring& target,
                      const std::vector<DataResource>& resources, std::string& error) {
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    error = "cannot copy " + Narrow(source) + " to " + Narrow(target);
    return false;
  }
  std::vector<std::vector<WORD>> languages(resources.size());
  std::vector<std::string> contents(resources.size());
  {
    DataModule module(target);
    if (!module.get()) {
      error = "cannot map " + Narrow(target);
      return false;
    }
    for (size_t i = 0; i < resources.size(); ++i) {
      EnumResourceLanguagesW(module.get(), kType, MAKEINTRESOURCEW(resources[i].id),
                             CollectLanguage, reinterpret_cast<LONG_PTR>(&languages[i]));
      if (!resources[i].file.empty() && !ReadWhole(resources[i].file, contents[i])) {
        error = "cannot read " + Narrow(resources[i].file);
        return false;
      }
    }
  }

  HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
  if (!update) {
    error = "BeginUpdateResourceW failed: " + std::to_string(GetLastError());
    return false;
  }
  bool ok = true;
  for (size_t i = 0; i < resources.size() && ok; ++i) {
    LPWSTR name = MAKEINTRESOURCEW(resources[i].id);
    for (WORD language : languages[i])
      ok = ok && UpdateResourceW(update, kType, name, language, nullptr, 0);
    // The replacement keeps the language of a single earlier copy, so that lookups that
    // prefer a language find exactly one candidate.
    const WORD language = languages[i].size() == 1 ? languages[i][0]
                                                   : MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    if (!resources[i].file.empty())
      ok = ok && UpdateResourceW(update, kType, name, language, contents[i].data(),
                                 static_cast<DWORD>(contents[i].size()));
  }
  if (!ok) {
    error = "UpdateResourceW failed: " + std::to_string(GetLastError());
    EndUpdateResourceW(update, TRUE);
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    error = "EndUpdateResourceW failed: " + std::to_string(GetLastError());
    return false;
  }

  // Read back what the loader now finds, as the patcher will.
  DataModule module(target);
  for (size_t i = 0; i < resources.size(); ++i) {
    HRSRC found = module.get() ? FindResourceW(module.get(), MAKEINTRESOURCEW(resources[i].id),
                                               kType)
                               : nullptr;
    const std::string id = std::to_string(resources[i].id);
    if (resources[i].file.empty()) {
      if (found) {
        error = "resource " + id + " is still there after its removal";
        return false;
      }
      continue;
    }
    const DWORD size = found ? SizeofResource(module.get(), found) : 0;
    HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size != contents[i].size() ||
        std::string(static_cast<const char*>(bytes), size) != contents[i]) {
      error = "resource " + id + " does not read back as written";
      return false;
    }
  }
  return true;
}

}  // namespace vardplay
