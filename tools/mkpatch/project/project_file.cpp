#include "mkpatch/project/project_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <sstream>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/project/path_rules.h"
#include "mkpatch/project/skin_check.h"

namespace vard::mkpatch {
namespace {

constexpr std::array<const char*, 5> kLanguageNames = {"english", "french", "german", "spanish",
                                                       "italian"};

template <typename View>
std::string RequireString(const View& node, const std::string& where) {
  if (auto s = node.template value<std::string>()) return *s;
  throw InputError("project file: missing or non-text " + where);
}

RegistryLocation ReadRegistry(const toml::table& root, const char* name) {
  const auto node = root["registry"][name];
  if (!node.is_table())
    throw InputError(std::string("project file: missing registry.") + name +
                     " (a table with key and value)");
  const std::string where = std::string("registry.") + name;
  RegistryLocation location{RequireString(node["key"], where + ".key"),
                            RequireString(node["value"], where + ".value")};
  if (const std::string problem = RegistryKeyProblem(location.key); !problem.empty())
    throw InputError("project file: " + where + ".key \"" + location.key + "\": " + problem);
  if (const std::string problem = RegistryValueNameProblem(location.value); !problem.empty())
    throw InputError("project file: " + where + ".value \"" + location.value + "\": " + problem);
  return location;
}

template <typename View>
std::filesystem::path ReadFolder(const View& node,
                                 const std::string& where, const std::filesystem::path& base) {
  std::filesystem::path dir = RequireString(node, where);
  if (dir.is_relative()) dir = base / dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    throw InputError("folder not found: " + dir.string() + " (" + where + ")");
  return dir;
}

// A pack's old folder: one text for a patch from one version, or a table from each
// starting version to its folder (needed when "from" is a list of several).
void ReadOldFolders(const toml::node_view<const toml::node>& node, const std::string& where,
                    const std::string& raw_root, const Project& project, bool from_is_list,
                    const std::filesystem::path& base, PackSource& source) {
  const std::string pack = where + " (root \"" + raw_root + "\")";
  const toml::table* table = node.as_table();
  if (!table) {
    if (from_is_list && !project.other_from.empty())
      throw InputError("project file: " + pack +
                       ": old must be a table from each starting version to its folder, such as "
                       "old = { \"" + project.from + "\" = \"...\", \"" + project.other_from[0] + "\" = \"...\" }");
    source.old_dir = ReadFolder(node, where + ".old", base);
    return;
  }
  for (const auto& [key, value] : *table) {
    const std::string version(key.str());
    bool listed = version == project.from;
    for (const std::string& other : project.other_from) listed = listed || version == other;
    if (!listed)
      throw InputError("project file: " + pack + ": old names version " + version +
                       ", which \"from\" does not list");
  }
  auto folder_of = [&](const std::string& version) {
    const auto value = node[version];
    if (!value)
      throw InputError("project file: " + pack + ": old has no folder for starting version " + version);
    return ReadFolder(value, where + ".old." + version, base);
  };
  source.old_dir = folder_of(project.from);
  for (const std::string& other : project.other_from) source.other_old_dirs.push_back(folder_of(other));
}

}  // namespace

std::string StartingVersionsText(const Project& project) {
  std::string text = project.from;
  for (const std::string& other : project.other_from) text += ", " + other;
  return text;
}

Project ProjectFromStart(const Project& project, size_t start) {
  Project one = project;
  if (start > 0) one.from = project.other_from.at(start - 1);
  one.other_from.clear();
  for (LanguageSection& section : one.sections)
    for (PackSource& pack : section.packs) {
      if (start > 0) pack.old_dir = pack.other_old_dirs.at(start - 1);
      pack.other_old_dirs.clear();
    }
  return one;
}

std::optional<int32_t> ParseVersion(const std::string& text) {
  const auto dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return std::nullopt;
  auto number = [](const std::string& digits) -> std::optional<long> {
    if (digits.size() > 5) return std::nullopt;
    long v = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + (c - '0');
    }
    return v;
  };
  const auto major = number(text.substr(0, dot));
  const auto minor = number(text.substr(dot + 1));
  if (!major || !minor || *major > 0x7FFF || *minor > 0xFFFF) return std::nullopt;
  return static_cast<int32_t>((*major << 16) | *minor);
}

Project LoadProject(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw InputError("project file not found: " + file.string());
  toml::table root;
  try {
    root = toml::parse_file(file.string());
  } catch (const toml::parse_error& e) {
    std::ostringstream msg;
    msg << "project file " << file.string() << " line " << e.source().begin.line << ": "
        << e.description();
    throw InputError(msg.str());
  }
  const std::filesystem::path base = file.has_parent_path() ? file.parent_path() : ".";

  Project project;
  // "from" is one version, or the list of versions one patcher brings to "to".
  const toml::array* from_list = root["from"].as_array();
  std::vector<std::string> starts;
  if (from_list) {
    if (from_list->empty()) throw InputError("project file: \"from\" lists no version");
    for (size_t i = 0; i < from_list->size(); ++i)
      starts.push_back(RequireString(toml::node_view<const toml::node>((*from_list)[i]),
                                     "\"from\" entry " + std::to_string(i + 1)));
  } else {
    starts.push_back(RequireString(root["from"], "from"));
  }
  project.to = RequireString(root["to"], "to");
  std::vector<std::pair<int32_t, std::string>> numbered;
  for (const std::string& start : starts) {
    const auto number = ParseVersion(start);
    if (!number) throw InputError("project file: \"from\" version \"" + start + "\" is not major.minor");
    numbered.emplace_back(*number, start);
  }
  const auto to = ParseVersion(project.to);
  if (!to) throw InputError("project file: \"to\" version \"" + project.to + "\" is not major.minor");
  for (const auto& [number, text] : numbered) {
    // The patcher takes a version of 0 for one it cannot read and stops every run.
    if (number == 0)
      throw InputError("project file: \"from\" version " + text +
                       " reads as 0, which the patcher takes for an unreadable version");
    if (*to <= number)
      throw InputError("project file: \"to\" version " + project.to + " is not greater than \"from\" " + text);
  }
  // The patcher tells versions apart by number only, so "1.1" and "1.01" are one version.
  std::sort(numbered.begin(), numbered.end());
  for (size_t i = 1; i < numbered.size(); ++i)
    if (numbered[i].first == numbered[i - 1].first)
      throw InputError("project file: starting version " + numbered[i].second + " is listed twice in \"from\"" +
                       (numbered[i].second == numbered[i - 1].second ? std::string()
                                                                     : " (as " + numbered[i - 1].second + ")"));
  project.from = numbered[0].second;
  for (size_t i = 1; i < numbered.size(); ++i) project.other_from.push_back(numbered[i].second);

  project.reg_path = ReadRegistry(root, "reg_path");
  project.reg_version = ReadRegistry(root, "reg_version");
  project.reg_version2 = ReadRegistry(root, "reg_version2");
  project.reg_language = ReadRegistry(root, "reg_language");

  const toml::array* languages = root["language"].as_array();
  if (!languages || languages->empty())
    throw InputError("project file: no [[language]] section");
  for (size_t i = 0; i < languages->size(); ++i) {
    const toml::table* table = (*languages)[i].as_table();
    const std::string where = "language section " + std::to_string(i + 1);
    if (!table) throw InputError("project file: " + where + " is not a table");
    LanguageSection section;
    if (const auto* name = table->get("name")) {
      const auto text = name->value<std::string>();
      if (!text) throw InputError("project file: " + where + ": name is not text");
      bool known = false;
      for (const char* n : kLanguageNames) known = known || *text == n;
      if (!known)
        throw InputError("project file: unknown language name \"" + *text +
                         "\" (use english, french, german, spanish or italian, or no name)");
      section.name = *text;
    }
    if (const toml::array* packs = table->get_as<toml::array>("pack")) {
      for (size_t k = 0; k < packs->size(); ++k) {
        const toml::table* pack = (*packs)[k].as_table();
        const std::string pwhere = where + ", pack " + std::to_string(k + 1);
        if (!pack) throw InputError("project file: " + pwhere + " is not a table");
        const toml::node_view<const toml::node> view(pack);
        PackSource source;
        const std::string raw_root = view["root"].value_or(std::string());
        if (const std::string problem = RelativePathProblem(raw_root); !problem.empty())
          throw InputError("project file: " + pwhere + ": bad root \"" + raw_root + "\": " + problem);
        source.root = CleanPackRoot(raw_root);
        ReadOldFolders(view["old"], pwhere, raw_root, project, from_list != nullptr, base, source);
        source.new_dir = ReadFolder(view["new"], pwhere + ".new", base);
        section.packs.push_back(std::move(source));
      }
    }
    project.sections.push_back(std::move(section));
  }

  if (const toml::table* skin = root["skin"].as_table()) {
    const toml::node_view<const toml::node> view(skin);
    auto optional_file = [&](const char* key) -> std::filesystem::path {
      const auto text = view[key].value<std::string>();
      if (!text) return {};
      std::filesystem::path p = *text;
      if (p.is_relative()) p = base / p;
      if (!std::filesystem::is_regular_file(p, ec))
        throw InputError(std::string("project file: skin.") + key + " file not found: " + p.string());
      return p;
    };
    project.skin.splash = optional_file("splash");
    project.skin.background = optional_file("background");
    project.skin.item_bar = optional_file("item_bar");
    project.skin.total_bar = optional_file("total_bar");
    CheckSkin(project.skin);
    project.skin.icon = optional_file("icon");
    if (!project.skin.icon.empty()) {
      const Bytes icon = ReadWholeFile(project.skin.icon);
      // An .ico file starts with reserved 0, type 1 and at least one image.
      if (icon.size() < 22 || icon[0] != 0 || icon[1] != 0 || icon[2] != 1 || icon[3] != 0 ||
          (icon[4] == 0 && icon[5] == 0))
        throw InputError("project file: skin.icon is not an .ico file: " + project.skin.icon.string());
    }
  }

  // Version information: every text optional, with defaults built from the versions.
  const toml::node_view<const toml::node> about(root["version_info"].as_table());
  if (root["version_info"] && !root["version_info"].is_table())
    throw InputError("project file: version_info must be a table");
  auto text = [&](const char* key, const std::string& fallback) {
    const auto node = about[key];
    if (!node) return fallback;
    std::string value = RequireString(node, std::string("version_info.") + key);
    for (unsigned char c : value)
      if (c < 0x20 || c == 0x7F)
        throw InputError(std::string("project file: version_info.") + key +
                         " contains a control character");
    return value;
  };
  project.version_info.studio = text("studio", "");
  project.version_info.product = text("product", "Game");
  project.version_info.description =
      text("description", project.version_info.product + " patch " + StartingVersionsText(project) + " to " + project.to);
  project.version_info.copyright = text("copyright", "");

  if (root["sign"]) {
    const toml::table* sign = root["sign"].as_table();
    if (!sign) throw InputError("project file: sign must be a table");
    const toml::node_view<const toml::node> view(sign);
    auto required_file = [&](const char* key) {
      std::filesystem::path p = RequireString(view[key], std::string("sign.") + key);
      if (p.is_relative()) p = base / p;
      if (!std::filesystem::is_regular_file(p, ec))
        throw InputError(std::string("project file: sign.") + key + " file not found: " + p.string());
      return p;
    };
    project.sign.certificate = required_file("certificate");
    project.sign.key = required_file("key");
    if (view["timestamp_url"])
      project.sign.timestamp_url = RequireString(view["timestamp_url"], "sign.timestamp_url");
  }
  return project;
}

}  // namespace vard::mkpatch
