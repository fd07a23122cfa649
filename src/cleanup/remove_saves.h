// Save removal after a successful patch: every save file of every profile in every data
// directory the game may use, except those ending with the keep marker. Nothing here is
// reported and no failure stops it: what cannot be read or deleted is passed over.
// Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vard {

// install_path: the normalised installation folder; product: the word naming the game's
// folder in the shared application data folder ("KORAX"). Cleans, in this order, the
// install path, the folder in "EngineDataDirectory", the folder named by the install
// folder's "data_directory" file, and (Windows 6 and later) the folders named by the
// numbered files 0, 1, 2... of the product folder, up to the first missing number.
void RemoveSaves(const std::wstring& install_path, const std::wstring& product);

// Deletes every file directly in directory\settings\profiles\<profile>\savegames\ that is
// not a kept save. Sub-folders of a save folder and files directly in the profiles folder
// are left alone; no folder of the chain from the volume's root down, the directory itself
// included, may be a reparse point, and no file that is one is deleted (WalkDataDirectory
// in save_walk.h). A directory whose own path passes through a link is left untouched.
void CleanDataDirectory(const std::wstring& directory);

// Names (not paths) of the folder's entries matching the ";"-separated patterns (UTF-8),
// in enumeration order, pattern by pattern: sub-folders only when want_folders, otherwise
// files only. ".", ".." and ".svn" are never listed; a name matching two patterns is
// listed twice.
std::vector<std::wstring> ListEntries(const std::wstring& folder, const std::string& patterns,
                                      bool want_folders);

// True for a file of at least 8 bytes (below 4 GiB) ending with the keep marker: a 32-bit
// zero followed by 0xF2846B26, little-endian (bytes 00 00 00 00 26 6B 84 F2).
bool IsKeptSave(const std::wstring& path);

}  // namespace vard
