#include "os/registry.h"

#include <windows.h>

#include <vector>

#include "base/text.h"
#include "os/win_handle.h"

namespace vard {
namespace {

constexpr DWORD kValueBytes = 1024;   // data limit of a read, in bytes
constexpr DWORD kExpandUnits = 2048;  // expansion buffer, in bytes or UTF-16 units

// Even reads ask for full access: the installation's values are only meant to be touched
// by an elevated patcher.
RegKey OpenKeyA(const RegValueRef& ref) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ref.key_path.c_str(), 0, KEY_ALL_ACCESS, &key) !=
      ERROR_SUCCESS) {
    return RegKey();
  }
  return RegKey(key);
}

}  // namespace

std::string ReadText(const RegValueRef& ref) {
  if (!ref.Configured()) return std::string();
  RegKey key = OpenKeyA(ref);
  if (!key) return std::string();

  // One byte beyond the limit keeps a terminator after data that fills all 1,024 bytes.
  std::vector<char> data(kValueBytes + 1, '\0');
  DWORD size = kValueBytes;
  if (RegQueryValueExA(key.get(), ref.value_name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
      size > kValueBytes) {
    return std::string();
  }
  data[size] = '\0';

  // A count above the buffer size is the size the expansion would need: keep the raw text.
  std::vector<char> expanded(kExpandUnits, '\0');
  const DWORD count = ExpandEnvironmentStringsA(data.data(), expanded.data(), kExpandUnits);
  if (count != 0 && count <= kExpandUnits) return std::string(expanded.data());
  return std::string(data.data());
}

std::wstring ReadWideText(const RegValueRef& ref) {
  if (!ref.Configured()) return std::wstring();
  const std::wstring key_path = Utf8ToWide(ref.key_path);
  const std::wstring value_name = Utf8ToWide(ref.value_name);
  HKEY raw_key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_ALL_ACCESS, &raw_key) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  RegKey key(raw_key);

  // 512 units of data plus one for the terminator.
  std::vector<wchar_t> data(kValueBytes / sizeof(wchar_t) + 1, L'\0');
  DWORD size = kValueBytes;
  if (RegQueryValueExW(key.get(), value_name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
      size > kValueBytes) {
    return std::wstring();
  }
  // An odd byte count leaves half a unit, completed by the buffer's zero fill.
  data[(size + 1) / sizeof(wchar_t)] = L'\0';

  std::vector<wchar_t> expanded(kExpandUnits, L'\0');
  const DWORD count = ExpandEnvironmentStringsW(data.data(), expanded.data(), kExpandUnits);
  if (count != 0 && count <= kExpandUnits) return std::wstring(expanded.data());
  return std::wstring(data.data());
}

bool ReadDword(const RegValueRef& ref, std::uint32_t& value) {
  if (!ref.Configured()) return false;
  RegKey key = OpenKeyA(ref);
  if (!key) return false;
  // Read into a local: a failed query may have scribbled over its buffer.
  DWORD number = 0;
  DWORD size = sizeof number;
  if (RegQueryValueExA(key.get(), ref.value_name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS) {
    return false;
  }
  value = number;
  return true;
}

bool WriteText(const RegValueRef& ref, const std::string& text) {
  // Only ever overwrite: a missing or empty value is not ours to create.
  if (ReadText(ref).empty()) return false;
  RegKey key = OpenKeyA(ref);
  if (!key) return false;
  return RegSetValueExA(key.get(), ref.value_name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace vard
