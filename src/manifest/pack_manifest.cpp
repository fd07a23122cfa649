#include "manifest/pack_manifest.h"

#include <tinyxml.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "base/paths.h"
#include "base/staging_names.h"
#include "base/text.h"

namespace vard {

namespace {

[[noreturn]] void FailFilePatch() { throw std::runtime_error("FilePatch"); }

// True when some component of a cleaned path (backslash-separated) is one that Windows
// resolves to the current or the parent folder: "." and "..", and, since Win32 drops
// trailing dots and spaces from a component, any component made only of dots and spaces.
bool HasDotComponent(const std::wstring& cleaned) {
  std::size_t start = 0;
  while (start <= cleaned.size()) {
    std::size_t end = cleaned.find(L'\\', start);
    if (end == std::wstring::npos) end = cleaned.size();
    if (end > start) {
      bool only_dots_and_spaces = true;
      bool has_dot = false;
      for (std::size_t i = start; i < end; ++i) {
        if (cleaned[i] == L'.') {
          has_dot = true;
        } else if (cleaned[i] != L' ') {
          only_dots_and_spaces = false;
          break;
        }
      }
      if (only_dots_and_spaces && has_dot) return true;
    }
    start = end + 1;
  }
  return false;
}

// Digits only, at most what 64 bits hold: a payload's place is never guessed.
bool ReadExactNumber(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// Eight lowercase hexadecimal digits, as the crc attributes are written.
bool ReadCrc(const std::string& text, std::uint32_t& value) {
  if (text.size() != 8) return false;
  value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return true;
}

}  // namespace

std::string RequireAttribute(const TiXmlElement& element, const char* name) {
  const char* text = element.Attribute(name);
  if (text == nullptr) FailFilePatch();
  return text;
}

std::int32_t ReadManifestInt(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long long>(value)));
}

std::unique_ptr<FileEntry> ParseFileEntry(const TiXmlElement& element, EntryKind kind,
                                          const std::wstring& install_root,
                                          const std::wstring& pack_root) {
  auto entry = std::make_unique<FileEntry>();
  entry->kind = kind;

  entry->install_root = install_root;
  if (entry->install_root.empty()) FailFilePatch();

  const std::wstring root = NormalizeSubPath(pack_root);
  if (HasDotComponent(root)) FailFilePatch();

  // A name that does not decode exactly would name another file than the one meant.
  const std::string raw_subpath = RequireAttribute(element, "subpath");
  if (!IsExactUtf8(raw_subpath.c_str())) FailFilePatch();
  const std::wstring subpath = NormalizeSubPath(Utf8ToWide(raw_subpath));
  if (subpath.empty() || HasDotComponent(subpath)) FailFilePatch();

  const std::wstring joined = root + L"\\" + subpath;
  entry->rel_dir = DirectoryPart(joined);
  entry->file_name = FileNamePart(joined);
  if (entry->file_name.empty()) FailFilePatch();
  // Names of staging files are the patcher's own; an entry may not claim one.
  if (IsStagingName(entry->file_name)) FailFilePatch();

  if (kind == EntryKind::Deleted) return entry;

  entry->crc = RequireAttribute(element, "crc");
  entry->size = RequireAttribute(element, "size");
  entry->id = ReadManifestInt(RequireAttribute(element, "id").c_str());
  const int comp = ReadManifestInt(RequireAttribute(element, "comp").c_str());
  if (comp == 1 || comp == 2) {
    entry->comp = true;
    entry->comp_form = comp;
    entry->comp_size = RequireAttribute(element, "comp_size");
  }
  if (element.Attribute("overlay") != nullptr) {
    entry->in_overlay = true;
    if (!ReadExactNumber(RequireAttribute(element, "overlay"), entry->overlay_offset) ||
        !ReadExactNumber(RequireAttribute(element, "overlay_size"), entry->overlay_size) ||
        !ReadCrc(RequireAttribute(element, "overlay_crc"), entry->overlay_crc))
      FailFilePatch();
  }

  if (kind != EntryKind::Updated) return entry;

  entry->crc_org = RequireAttribute(element, "crc_org");
  entry->size_org = RequireAttribute(element, "size_org");
  const int diff = ReadManifestInt(RequireAttribute(element, "diff").c_str());
  if (diff >= 1 && diff <= 3) {
    entry->diff = true;
    entry->diff_form = diff;
    entry->diff_size = RequireAttribute(element, "diff_size");
  }
  return entry;
}

}  // namespace vard
