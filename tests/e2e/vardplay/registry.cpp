#include "registry.h"

#include <cstdio>
#include <vector>

#include "os/win_handle.h"
#include "text.h"

namespace vardplay {

bool ApplyRegistryWrite(const RegistryWrite& write, std::string& error) {
  LSTATUS rc;
  if (write.remove_key) {
    rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, write.key.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  } else {
    HKEY raw = nullptr;
    if (write.remove_value) {
      rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, write.key.c_str(), 0, KEY_SET_VALUE, &raw);
      if (rc == ERROR_FILE_NOT_FOUND) return true;  // absent already
    } else {
      rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, write.key.c_str(), 0, nullptr, 0,
                           KEY_SET_VALUE, nullptr, &raw, nullptr);
    }
    vard::RegKey key(raw);
    if (rc == ERROR_SUCCESS) {
      if (write.remove_value) {
        rc = RegDeleteValueW(key.get(), write.value.c_str());
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
      } else {
        rc = RegSetValueExW(key.get(), write.value.c_str(), 0, write.type,
                            reinterpret_cast<const BYTE*>(write.data.data()),
                            static_cast<DWORD>(write.data.size()));
      }
    }
  }
  if (rc != ERROR_SUCCESS) {
    error = "registry " + Narrow(write.key) + " / " + Narrow(write.value) + ": error " +
            std::to_string(rc);
    return false;
  }
  return true;
}

void ReportRegistryValue(const std::wstring& key_path, const std::wstring& value,
                         JsonWriter& json) {
  json.BeginObject();
  json.String("key", Narrow(key_path));
  json.String("value", Narrow(value));
  HKEY raw = nullptr;
  LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_QUERY_VALUE, &raw);
  vard::RegKey key(raw);
  DWORD type = 0, size = 0;
  if (rc == ERROR_SUCCESS)
    rc = RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size + 2, 0);
  if (rc == ERROR_SUCCESS)
    rc = RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, data.data(), &size);
  json.Bool("present", rc == ERROR_SUCCESS);
  if (rc == ERROR_SUCCESS) {
    json.Int("type", type);
    std::string hex;
    for (DWORD i = 0; i < size; ++i) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02x", data[i]);
      hex += buf;
    }
    json.String("hex", hex);
    if (type == REG_SZ || type == REG_EXPAND_SZ)
      json.String("text", Narrow(reinterpret_cast<const wchar_t*>(data.data())));
  }
  json.EndObject();
}

}  // namespace vardplay
