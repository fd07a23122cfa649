#include "mkpatch/project/path_rules.h"

#include <array>
#include <cstdint>
#include <vector>

#include "base/staging_names.h"
#include "base/text.h"

namespace vard::mkpatch {
namespace {

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<uint8_t>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr std::array<uint32_t, 4> kMin = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

}  // namespace

std::string FoldCase(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string WindowsNameProblem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name == "." || name == "..") return "\"" + name + "\" component";
  if (!IsValidUtf8(name)) return "name is not UTF-8 text";
  for (char ch : name) {
    const auto c = static_cast<uint8_t>(ch);
    if (c < 0x20 || c == 0x7F) return "control character in name";
    if (std::string_view("<>:\"/\\|?*").find(ch) != std::string_view::npos)
      return std::string("character '") + ch + "' cannot be stored by Windows";
  }
  if (name.back() == '.' || name.back() == ' ')
    return "name ends with a dot or a space, which Windows drops";
  // The patcher stages each file beside it as "<name>.vard-new" and the like, and clears
  // such names as leftovers of an interrupted run.
  if (IsStagingName(Utf8ToWide(name)))
    return "extension \"vard-...\" is reserved for the patcher's staging files";
  // Device names are reserved with any extension ("nul.txt" too), and with spaces before
  // it, which Windows drops ("nul .txt").
  std::string stem = FoldCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::array<const char*, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  for (const char* d : kDevices)
    if (stem == d) return "reserved device name";
  if (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) {
    const std::string number = stem.substr(3);
    // A digit, or the superscript one, two or three (U+00B9, U+00B2, U+00B3 in UTF-8),
    // which Windows takes as the same ports.
    if ((number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
        number == "\xC2\xB2" || number == "\xC2\xB3")
      return "reserved device name";
  }
  return {};
}

std::string RegistryKeyProblem(const std::string& key) {
  if (key.empty()) return "empty key";
  for (unsigned char c : key)
    if (c >= 0x80) return "not ASCII; the patcher opens keys with the narrow registry calls, "
                          "which cannot name it on every player's system";
  if (key.front() == '\\')
    return "begins with a backslash; write the path below HKEY_LOCAL_MACHINE, as "
           "SOFTWARE\\Studio\\Game";
  const std::string first = FoldCase(key.substr(0, key.find('\\')));
  static const std::array<const char*, 6> kShortHives = {"HKLM", "HKCU", "HKCR", "HKU", "HKCC",
                                                          "HKPD"};
  bool hive = first.rfind("HKEY_", 0) == 0;
  for (const char* h : kShortHives) hive = hive || first == h;
  if (hive)
    return "names a hive; the patcher always reads below HKEY_LOCAL_MACHINE, so write the "
           "path below it, as SOFTWARE\\Studio\\Game";
  return {};
}

std::string RegistryValueNameProblem(const std::string& name) {
  if (name.empty()) return "empty value name; the patcher reads and writes nothing there";
  for (unsigned char c : name)
    if (c >= 0x80) return "not ASCII; the patcher reads and writes values with the narrow "
                          "registry calls, which cannot name it on every player's system";
  return {};
}

std::string RelativePathProblem(const std::string& path) {
  for (const std::string& part : SplitComponents(path)) {
    std::string problem = WindowsNameProblem(part);
    if (!problem.empty()) return problem;
  }
  return {};
}

std::string CleanPackRoot(const std::string& root) {
  std::string out;
  for (const std::string& part : SplitComponents(root)) {
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

}  // namespace vard::mkpatch
