// Pack selection: turns the main manifest's language sections and the pack manifests into
// the run's ordered list of file entries, and sums the disk space the sections need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "manifest/file_entry.h"
#include "manifest/resource_view.h"

namespace vard {

struct PatchConfig;

// Portable core of the selection: language is the installation language DWORD, fetch gives
// the bytes of "DATA" resources (5001 and the pack ids), set the starting version's set of
// packs: 0 the language sections of the main manifest's "patch" element, k those of its
// k-th "set" element (no such element: "Invalid main_xml"). Appends entries to list (entries
// appended before a failure stay) and returns the signed 64-bit sum of the selected
// sections' "required_space". Raises std::runtime_error with "Bad language",
// "Invalid main_xml", "Bad patch.xml", "Invalid sub patch" or "FilePatch". With folders
// given, the packs' folder entries are appended to it in the same order (a "remove" or
// "create" whose subpath would not pass as a file's raises "FilePatch"); without, the
// "folders" elements are not read, as by patchers that predate them.
std::int64_t SelectFileEntries(std::uint32_t language, const ResourceFetcher& fetch,
                               const std::wstring& install_path, FileEntryList& list,
                               FolderEntryList* folders = nullptr, std::size_t set = 0);

#ifdef _WIN32
// The run's call: reads the language from config.reg_language and the manifests from the
// executable's resources; set as for SelectFileEntries.
std::int64_t CollectFileEntries(FileEntryList& list, const PatchConfig& config,
                                const std::wstring& install_path,
                                FolderEntryList* folders = nullptr, std::size_t set = 0);
#endif

}  // namespace vard
