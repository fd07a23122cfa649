// The patch project: which versions the patch joins, where the game keeps its registry
// values, and per language section the packs with the old and new folders their files come
// from. Read from a TOML file; the format is described in docs/project-file.md.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vard::mkpatch {

struct RegistryLocation {
  std::string key;    // key path below HKEY_LOCAL_MACHINE
  std::string value;  // value name
};

struct PackSource {
  std::string root;  // cleaned pack root ("" or "local\french")
  std::filesystem::path old_dir;  // the pack as installed at Project::from
  std::filesystem::path new_dir;
  // The pack as installed at each of Project::other_from, in that order.
  std::vector<std::filesystem::path> other_old_dirs;
};

struct LanguageSection {
  std::string name;  // "" applies to every language, else english/french/german/spanish/italian
  std::vector<PackSource> packs;
};

// Art of the project's own. An empty path keeps the patcher's own image: the icon
// (resource 101) and the skin images, splash 102, progress window 103, item bar 104 and
// total bar 105. LoadProject checks each image against what the windows need.
struct SkinOverrides {
  std::filesystem::path icon;
  std::filesystem::path splash, background, item_bar, total_bar;
};

// The version resource of both patchers (what Windows shows in the file's properties).
struct VersionInfo {
  std::string studio;       // CompanyName; empty leaves it out
  std::string product;      // ProductName
  std::string description;  // FileDescription
  std::string copyright;    // LegalCopyright; empty leaves it out
};

// Authenticode signing of both patchers; an empty certificate means unsigned.
struct SigningSetup {
  std::filesystem::path certificate;  // PEM: the signing certificate, then any chain
  std::filesystem::path key;          // PEM private key, unencrypted
  std::string timestamp_url;          // optional RFC 3161 time-stamp server
};

struct Project {
  // The oldest starting version (the one the main manifest's header names) and the version
  // every starting version ends at. other_from holds the further starting versions of a
  // patcher that serves several, ascending; empty for a patch from one version.
  std::string from, to;
  std::vector<std::string> other_from;
  RegistryLocation reg_path, reg_version, reg_version2, reg_language;
  std::vector<LanguageSection> sections;
  SkinOverrides skin;
  VersionInfo version_info;
  SigningSetup sign;
};

// Version number as the patcher computes it: (major << 16) | minor from "major.minor";
// nullopt unless the text is exactly digits, a dot, digits, within the 16-bit ranges.
std::optional<int32_t> ParseVersion(const std::string& text);

// Every starting version for texts the player reads: "1.00", or "1.00, 1.01" with several.
std::string StartingVersionsText(const Project& project);

// The project as a patch from one of its starting versions (0: `from`, k: other_from[k-1]),
// with that version's old folders as each pack's old_dir and no further starting versions.
Project ProjectFromStart(const Project& project, size_t start);

// Reads and checks the project: versions parse and "to" is greater than every "from", every
// language name is known, every pack root is a clean relative path, every folder exists.
// Relative folders are taken from the project file's own folder. Throws InputError.
Project LoadProject(const std::filesystem::path& file);

}  // namespace vard::mkpatch
