#include "mkpatch/check/self_check.h"

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "base/paths.h"
#include "base/text.h"
#include "cleanup/save_walk.h"
#include "engine/crc_text.h"
#include "engine/diff/decode_diff.h"
#include "engine/diff/diff_writer.h"
#include "engine/diff/archive_diff.h"
#include "engine/diff/stream_diff.h"
#include "engine/xz_stream.h"
#include "engine/inflate_loop.h"
#include "manifest/pack_selection.h"
#include "mkpatch/common/file_io.h"
#include "mkpatch/common/name_case.h"
#include "mkpatch/common/progress_bar.h"
#include "mkpatch/output/resource_folder.h"
#include "mkpatch/compare/required_space.h"
#include "mkpatch/compare/tree_compare.h"

namespace vard::mkpatch {
namespace fs = std::filesystem;
namespace {

class VectorSource final : public InflateSource {
 public:
  explicit VectorSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  int64_t Read(unsigned char* buffer, size_t capacity) override {
    const size_t n = std::min(capacity, bytes_.size() - offset_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t offset_ = 0;
};

// Decoded bytes go straight into the caller's vector (keeping what it reserved), so a
// large file is never held twice.
class IntoVector final : public diff::DiffWriter {
 public:
  explicit IntoVector(std::vector<uint8_t>& out) : out_(out) {
    out_.clear();
    Start(nullptr);
  }
  ~IntoVector() override { ReleaseBuffer(); }

 protected:
  bool Deliver(const unsigned char* data, size_t count) override {
    out_.insert(out_.end(), data, data + count);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

// True when the file holds exactly these bytes (read in 1 MiB pieces).
bool FileHolds(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read file: " + path.string());
  std::vector<char> piece(size_t{1} << 20);
  size_t at = 0;
  for (;;) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (in.bad()) throw std::runtime_error("cannot read file: " + path.string());
    if (got > bytes.size() - at || std::memcmp(piece.data(), bytes.data() + at, got) != 0) return false;
    at += got;
    if (got < piece.size()) return at == bytes.size();
  }
}

class VectorSink final : public InflateSink {
 public:
  explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
  bool Write(const unsigned char* data, size_t count) override {
    out_.insert(out_.end(), data, data + count);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

struct Language {
  uint32_t id;  // the installation language DWORD
  const char* name;
};
constexpr Language kLanguages[] = {
    {9, "english"}, {1036, "french"}, {7, "german"}, {10, "spanish"}, {16, "italian"}};

// The installation the model starts from lies in "C:\Game".
const std::wstring kInstallPath = L"C:\\Game";

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t unit : text) {
    const auto c = static_cast<uint32_t>(unit);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The bytes of a file in the model, by id: a file of the old or new trees (unchanged pairs
// share one id, since the comparison found them equal byte for byte), or content the replay
// made that is in neither tree (no source).
struct Content {
  fs::path source;
  uint64_t size = 0;
  std::optional<std::string> crc;
};

class Contents {
 public:
  int Add(const fs::path& source, uint64_t size) {
    items_.push_back({source, size, std::nullopt});
    return static_cast<int>(items_.size() - 1);
  }
  int AddDetached(uint64_t size, std::string crc) {
    items_.push_back({{}, size, std::move(crc)});
    return static_cast<int>(items_.size() - 1);
  }
  const Content& Get(int id) const { return items_[static_cast<size_t>(id)]; }
  const std::string& Crc(int id) {
    Content& c = items_[static_cast<size_t>(id)];
    if (!c.crc) c.crc = CrcText(ReadWholeFile(c.source));
    return *c.crc;
  }

 private:
  std::vector<Content> items_;
};

struct TreeFile {
  std::wstring key, name;  // name key and spelling, relative to the installation folder
  int content;
};

// One project pack's files, placed below its root.
struct PackFiles {
  std::vector<TreeFile> old_files, new_files;
  std::vector<std::wstring> old_folders, new_folders;  // spelled as in the trees
  std::wstring root;  // the pack's folder, "" for the installation folder
};

// The selection's entries for one language: files, and folders as the patcher reads them.
struct Selection {
  FileEntryList files;
  FolderEntryList folders;
};

std::wstring InstallRelative(const std::string& root, const std::string& name) {
  return NormalizeSubPath(Utf8ToWide(root + "/" + name));
}

// An installation as the patcher's file system shows it: files and folders found by name
// key, each keeping the spelling it was created with.
class Model {
 public:
  bool Exists(const std::wstring& key) const { return files_.count(key) || folders_.count(key); }
  bool IsFolder(const std::wstring& key) const { return folders_.count(key) != 0; }
  const TreeFile* File(const std::wstring& key) const {
    const auto it = files_.find(key);
    return it == files_.end() ? nullptr : &it->second;
  }
  const std::map<std::wstring, TreeFile>& files() const { return files_; }

  // Creates the missing folders above the file and the file itself (replacing a file of the
  // same key); false when a folder on the way is a file, or the target a folder.
  bool Write(const std::wstring& key, const std::wstring& name, int content) {
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1))
      if (files_.count(key.substr(0, slash))) return false;
    if (folders_.count(key)) return false;
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1))
      folders_.emplace(key.substr(0, slash), name.substr(0, slash));
    // A replaced file takes the name the patcher renames its staging file to.
    files_[key] = {key, name, content};
    return true;
  }

  // Names (as spelled) of the folder's sub-folders or files; "" is the installation folder.
  std::vector<std::wstring> Children(const std::wstring& key, bool want_folders) const {
    std::vector<std::wstring> names;
    const std::wstring prefix = key.empty() ? key : key + L"\\";
    auto collect = [&](const auto& map, auto spelling) {
      for (auto it = map.lower_bound(prefix); it != map.end() && it->first.rfind(prefix, 0) == 0; ++it)
        if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) {
          const std::wstring& name = spelling(it->second);
          names.push_back(name.substr(name.rfind(L'\\') + 1));
        }
    };
    if (want_folders) collect(folders_, [](const std::wstring& name) -> const std::wstring& { return name; });
    else collect(files_, [](const TreeFile& file) -> const std::wstring& { return file.name; });
    return names;
  }

  // Creates the folder and any missing folder above it; false when a file is in the way.
  bool MakeFolder(const std::wstring& key, const std::wstring& name) {
    const std::wstring full = key + L"\\";
    for (size_t slash = full.find(L'\\'); slash != std::wstring::npos; slash = full.find(L'\\', slash + 1))
      if (files_.count(full.substr(0, slash))) return false;
    for (size_t slash = full.find(L'\\'); slash != std::wstring::npos; slash = full.find(L'\\', slash + 1))
      folders_.emplace(full.substr(0, slash), name.substr(0, std::min(slash, name.size())));
    return true;
  }

  // Removes the folder when it holds nothing, as the system does.
  void RemoveEmptyFolder(const std::wstring& key) {
    if (folders_.count(key) && Children(key, true).empty() && Children(key, false).empty())
      folders_.erase(key);
  }
  const std::map<std::wstring, std::wstring>& folders() const { return folders_; }

  // Removes a file, or a folder with everything in it.
  void Delete(const std::wstring& key) {
    files_.erase(key);
    if (!folders_.erase(key)) return;
    const std::wstring prefix = key + L"\\";
    for (auto it = files_.lower_bound(prefix); it != files_.end() && it->first.rfind(prefix, 0) == 0;)
      it = files_.erase(it);
    for (auto it = folders_.lower_bound(prefix); it != folders_.end() && it->first.rfind(prefix, 0) == 0;)
      it = folders_.erase(it);
  }

 private:
  std::map<std::wstring, TreeFile> files_;
  std::map<std::wstring, std::wstring> folders_;
};

// The installation after the patch as the save removal's walk sees it. The walk runs
// unchanged; every file it would delete is recorded instead.
class ModelSaveFiles final : public SaveFileSystem {
 public:
  ModelSaveFiles(const Model& model, Contents& contents) : model_(model), contents_(contents) {}
  const std::vector<std::wstring>& deleted() const { return deleted_; }

  std::shared_ptr<void> Hold(const std::wstring& path, std::uint32_t& attributes) override {
    if (!Attributes(path, attributes)) return nullptr;
    return std::make_shared<int>(0);
  }
  bool Attributes(const std::wstring& path, std::uint32_t& attributes) {
    const std::wstring key = Key(path);
    if (key.empty() || model_.IsFolder(key)) attributes = kAttributeDirectory;
    else if (model_.File(key)) attributes = kAttributeNormal;
    else return false;
    return true;
  }
  std::vector<std::wstring> List(const std::wstring& folder, bool want_folders) override {
    std::vector<std::wstring> names = model_.Children(Key(folder), want_folders);
    // The patcher's listing never returns ".svn".
    std::erase(names, L".svn");
    return names;
  }
  std::wstring FullPath(const std::wstring& path) override { return path; }
  std::unique_ptr<SaveFile> Open(const std::wstring& path) override {
    std::uint32_t attributes = 0;
    if (!Attributes(path, attributes)) return nullptr;
    return std::make_unique<File>(*this, path, attributes);
  }
  bool IsKeptSave(const std::wstring& path) {
    const TreeFile* file = model_.File(Key(path));
    if (!file) return false;
    const Content& content = contents_.Get(file->content);
    if (content.size < 8 || content.source.empty()) return false;
    std::ifstream in(content.source, std::ios::binary);
    unsigned char tail[8] = {};
    in.seekg(static_cast<std::streamoff>(content.size - 8));
    if (!in.read(reinterpret_cast<char*>(tail), sizeof tail)) return false;
    static constexpr unsigned char kMarker[8] = {0, 0, 0, 0, 0x26, 0x6B, 0x84, 0xF2};
    return std::memcmp(tail, kMarker, sizeof tail) == 0;
  }
  void Delete(const std::wstring& path) {
    const TreeFile* file = model_.File(Key(path));
    deleted_.push_back(file ? file->name : path);
  }

 private:
  // A model file as the walk opens it: judged and deleted by its path in the model.
  class File final : public SaveFile {
   public:
    File(ModelSaveFiles& owner, std::wstring path, std::uint32_t attributes)
        : owner_(owner), path_(std::move(path)), attributes_(attributes) {}
    std::uint32_t attributes() const override { return attributes_; }
    bool IsKept() override { return owner_.IsKeptSave(path_); }
    void Delete() override { owner_.Delete(path_); }

   private:
    ModelSaveFiles& owner_;
    std::wstring path_;
    std::uint32_t attributes_;
  };

  static constexpr std::uint32_t kAttributeNormal = 0x80;

  // The model's key of a path below the installation folder; "" for the folder itself.
  static std::wstring Key(const std::wstring& path) {
    std::wstring rel = path.substr(std::min(path.size(), kInstallPath.size()));
    while (!rel.empty() && rel.front() == L'\\') rel.erase(0, 1);
    while (!rel.empty() && rel.back() == L'\\') rel.pop_back();
    return UpcaseWide(rel);
  }

  const Model& model_;
  Contents& contents_;
  std::vector<std::wstring> deleted_;
};

class Replayer {
 public:
  // `set` is the starting version's set in the main manifest (0 for plan.project.from);
  // `prefix` starts every problem line ("" or "from 1.01, ").
  Replayer(const PatchPlan& plan, const fs::path& resources, size_t set, std::string prefix)
      : plan_(plan), resources_(resources), set_(set), prefix_(std::move(prefix)) {
    for (size_t s = 0; s < plan.project.sections.size(); ++s) {
      packs_.emplace_back();
      for (size_t p = 0; p < plan.project.sections[s].packs.size(); ++p)
        packs_.back().push_back(ListPack(plan.project.sections[s].packs[p], plan.changes[s][p]));
    }
  }

  const std::vector<std::string>& problems() const { return problems_; }
  size_t decoded() const { return decoded_; }

  ResourceView Fetch(uint16_t id) {
    auto it = manifests_.find(id);
    if (it == manifests_.end()) {
      const fs::path path = ManifestPath(resources_, id);
      if (!fs::exists(path)) throw std::runtime_error("Cannot find resource");
      it = manifests_.emplace(id, ReadWholeFile(path)).first;
    }
    return {it->second.data(), it->second.size()};
  }

  Selection Select(const Language& language) {
    Selection selection;
    try {
      required_[language.name] = static_cast<uint64_t>(SelectFileEntries(
          language.id, [this](uint16_t id) { return Fetch(id); }, kInstallPath, selection.files,
          &selection.folders, set_));
    } catch (const std::exception& e) {
      problems_.push_back(prefix_ + language.name + ": the patcher cannot read the manifests (" +
                          e.what() + ")");
      selection = {};
    }
    return selection;
  }

  // Replays the entries on the language's old installation and compares the result with
  // its new tree.
  void Replay(const Language& language, const Selection& selection, ProgressBar* bar) {
    const FileEntryList& entries = selection.files;
    Model model, expected_model;
    std::map<std::wstring, TreeFile> expected;
    std::set<std::wstring> pack_roots;  // and the folders above them: no pack makes or removes them
    for (size_t s = 0; s < plan_.project.sections.size(); ++s) {
      const std::string& name = plan_.project.sections[s].name;
      if (!name.empty() && name != language.name) continue;
      for (const PackFiles& pack : packs_[s]) {
        for (const TreeFile& f : pack.old_files) model.Write(f.key, f.name, f.content);
        for (const std::wstring& f : pack.old_folders) model.MakeFolder(UpcaseWide(f), f);
        for (const TreeFile& f : pack.new_files) {
          expected[f.key] = f;
          expected_model.Write(f.key, f.name, f.content);
        }
        for (const std::wstring& f : pack.new_folders) expected_model.MakeFolder(UpcaseWide(f), f);
        const std::wstring root = UpcaseWide(pack.root);
        for (size_t slash = root.find(L'\\'); !root.empty(); slash = root.find(L'\\', slash + 1)) {
          pack_roots.insert(root.substr(0, slash));
          if (slash == std::wstring::npos) break;
        }
      }
    }
    const std::string lang = prefix_ + language.name;
    auto fail = [&](const FileEntry& entry, const std::string& what) {
      problems_.push_back(lang + ": " + Narrow(DisplayName(entry)) + ": " + what);
    };

    // Pre-flight: every entry before any change, by existence and size alone.
    std::vector<bool> checksum(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
      const FileEntry& entry = *entries[i];
      const std::wstring key = KeyOf(entry);
      const TreeFile* file = model.File(key);
      if (entry.kind == EntryKind::Deleted) continue;
      if (entry.kind == EntryKind::Added) {
        // A folder in the way cannot be opened to take its size.
        if (model.IsFolder(key)) return fail(entry, "a folder stands where the file is added; the patcher stops with 210");
        checksum[i] = file != nullptr;
        continue;
      }
      if (!file) return fail(entry, "the file to update is missing; the patcher stops with 210");
      const uint64_t size = contents_.Get(file->content).size;
      if (size == Number(entry.size)) checksum[i] = true;
      else if (size != Number(entry.size_org))
        return fail(entry, "the installed file has " + std::to_string(size) + " bytes, neither the old nor the new size; the patcher stops with 210");
    }

    // Application, entry by entry. Beside it, the disk space in use beyond the installation
    // as it was when the patcher measured the free space, as each file is staged: every
    // staging file on disk at once, and the installed file (the old version, or the file an
    // added entry replaces) kept until the new content takes its name.
    uint64_t in_use = 0, peak = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const FileEntry& entry = *entries[i];
      const std::wstring key = KeyOf(entry);
      const std::wstring name = NormalizeSubPath(DisplayName(entry));
      if (bar) bar->Advance(1, entry.kind == EntryKind::Deleted ? 0 : Number(entry.size), Narrow(name));
      const bool exists = model.Exists(key);
      const TreeFile* file = model.File(key);
      if (exists && !file && entry.kind != EntryKind::Deleted)
        return fail(entry, "a folder stands where the file goes; the patcher stops with 215");
      std::string crc;
      if (file && checksum[i]) {
        crc = contents_.Crc(file->content);  // "00000000" for an empty file
      }
      if (entry.kind == EntryKind::Deleted) {
        if (file) in_use -= std::min(in_use, OnDisk(contents_.Get(file->content).size));
        if (exists) model.Delete(key);
        continue;
      }
      int input = -1;
      if (entry.kind == EntryKind::Added) {
        if (file && !crc.empty() && crc == entry.crc) continue;
        if (file) model.Delete(key);
      } else {
        if (!file) return fail(entry, "the file to update is missing; the patcher stops with 210");
        const uint64_t size = contents_.Get(file->content).size;
        if (size == Number(entry.size)) {
          if (!crc.empty() && crc == entry.crc) continue;
          if (crc != entry.crc_org) return fail(entry, "the installed file is neither the old nor the new version; the patcher stops with 210");
        }
        if (size != Number(entry.size_org)) return fail(entry, "the installed file has another size than the old version; the patcher stops with 210");
        input = file->content;
      }
      const uint64_t copy = entry.comp ? OnDisk(Number(entry.comp_size)) : 0;
      const uint64_t rebuilt = OnDisk(Number(entry.size));
      const bool diff = entry.diff && entry.kind == EntryKind::Updated;
      const uint64_t payload = diff ? OnDisk(Number(entry.diff_size)) : rebuilt;
      peak = std::max(peak, in_use + std::max(copy + payload, diff ? payload + rebuilt : 0));
      in_use += rebuilt;
      if (file) in_use -= std::min(in_use, OnDisk(contents_.Get(file->content).size));
      const auto wanted = expected.find(key);
      std::string problem;
      const int content = Decode(entry, entry.diff && entry.kind == EntryKind::Updated ? input : -1,
                                 wanted == expected.end() ? -1 : wanted->second.content, problem);
      if (content < 0) return fail(entry, problem);
      if (!model.Write(key, name, content))
        return fail(entry, "a file stands where a folder of its path goes; the patcher stops with 215");
    }

    if (const uint64_t required = required_[language.name]; peak > required)
      problems_.push_back(lang + ": the run needs " + std::to_string(peak) +
                          " bytes of free space at its fullest, but the sections ask for " +
                          std::to_string(required) + "; the patcher could run out of space midway");

    // The folders, after every file: emptied ones removed, empty new ones created.
    for (const FolderEntry& folder : selection.folders)
      if (folder.remove) model.RemoveEmptyFolder(UpcaseWide(InstallRelativePath(TargetPath(folder.folder))));
    for (const FolderEntry& folder : selection.folders) {
      if (folder.remove) continue;
      const std::wstring name = InstallRelativePath(TargetPath(folder.folder));
      if (!model.MakeFolder(UpcaseWide(name), name)) {
        problems_.push_back(lang + ": " + Narrow(name) +
                            ": a file stands where the folder goes; the patcher stops with 215");
        return;
      }
    }

    // The final tree against the new one.
    size_t reported = 0;
    auto report = [&](const std::wstring& name, const std::string& what) {
      if (++reported <= 20) problems_.push_back(lang + ": " + Narrow(name) + ": " + what);
    };
    for (const auto& [key, want] : expected) {
      const TreeFile* have = model.File(key);
      if (!have) report(want.name, "missing after the patch");
      else if (!SameBytes(have->content, want.content)) report(want.name, "differs from the new file after the patch");
    }
    for (const auto& [key, have] : model.files())
      if (!expected.count(key)) report(have.name, "left over after the patch, not in the new tree");
    for (const auto& [key, name] : expected_model.folders())
      if (!model.IsFolder(key) && !pack_roots.count(key)) report(name, "folder missing after the patch");
    for (const auto& [key, name] : model.folders())
      if (!expected_model.IsFolder(key) && !pack_roots.count(key))
        report(name, "folder left over after the patch, not in the new tree");
    if (reported > 20)
      problems_.push_back(lang + ": and " + std::to_string(reported - 20) + " more differences");

    // After the patch the patcher removes the saves in the installation folder: a game
    // file there would be installed and deleted in the same run.
    ModelSaveFiles saves(model, contents_);
    WalkDataDirectory(saves, kInstallPath);
    for (const std::wstring& name : saves.deleted())
      refused_.insert(Narrow(name) + ": the patcher deletes this file right after installing it: "
                      "after every patch it removes each file in settings\\profiles\\<profile>\\"
                      "savegames\\ of the game folder that does not end with the keep marker "
                      "(bytes 00 00 00 00 26 6B 84 F2); end the file with the marker or move it");
  }

  const std::set<std::string>& refused() const { return refused_; }

 private:
  static uint64_t Number(const std::string& text) { return static_cast<uint64_t>(ReadManifestNumber(text)); }

  // A path the selection built below the model's installation folder, relative to it.
  static std::wstring InstallRelativePath(const std::wstring& path) {
    return NormalizeSubPath(path.substr(std::min(path.size(), kInstallPath.size())));
  }

  static std::wstring KeyOf(const FileEntry& entry) { return UpcaseWide(NormalizeSubPath(DisplayName(entry))); }

  PackFiles ListPack(const PackSource& source, const PackChanges& changes) {
    PackFiles files;
    auto add = [&](std::vector<TreeFile>& to, const fs::path& dir, const std::string& name) {
      const std::wstring rel = InstallRelative(source.root, name);
      const int id = contents_.Add(dir / name, FileSizeOf(dir / name));
      to.push_back({UpcaseWide(rel), rel, id});
      return id;
    };
    for (const UpdatedFile& pair : changes.unchanged) {
      const int id = add(files.old_files, source.old_dir, pair.old_name);
      const std::wstring rel = InstallRelative(source.root, pair.new_name);
      files.new_files.push_back({UpcaseWide(rel), rel, id});
    }
    for (const UpdatedFile& pair : changes.updated) {
      add(files.old_files, source.old_dir, pair.old_name);
      add(files.new_files, source.new_dir, pair.new_name);
    }
    for (const std::string& name : changes.deleted) add(files.old_files, source.old_dir, name);
    for (const std::string& name : changes.deleted_first) add(files.old_files, source.old_dir, name);
    for (const std::string& name : changes.added) add(files.new_files, source.new_dir, name);
    for (const std::string& name : changes.old_folders) files.old_folders.push_back(InstallRelative(source.root, name));
    for (const std::string& name : changes.new_folders) files.new_folders.push_back(InstallRelative(source.root, name));
    files.root = NormalizeSubPath(Utf8ToWide(source.root));
    return files;
  }

  static uint64_t FileSizeOf(const fs::path& path) {
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    if (ec) throw std::runtime_error("cannot read file: " + path.string());
    return size;
  }

  bool SameBytes(int a, int b) {
    if (a == b) return true;
    const Content& x = contents_.Get(a);
    const Content& y = contents_.Get(b);
    if (x.size != y.size || x.source.empty() || y.source.empty()) return false;
    return SameContent(x.source, y.source);
  }

  // The entry's new content as a content id: `expected` when the decoded bytes equal that
  // file's, else content of its own. -1 with the problem when the payload does not decode.
  // A payload met again with the same input gives the same result without decoding.
  int Decode(const FileEntry& entry, int input, int expected, std::string& problem) {
    const uint16_t id = static_cast<uint16_t>(entry.id & 0xFFFF);
    const auto memo_key = std::make_tuple(id, input, expected);
    if (const auto it = memo_.find(memo_key); it != memo_.end()) {
      problem = it->second.second;
      return it->second.first;
    }
    const int result = DecodeOnce(entry, id, input, expected, problem);
    memo_[memo_key] = {result, problem};
    return result;
  }

  // A stored whole file is its own content: its size and checksum are read in pieces and it
  // is compared with the expected file where both lie, never held in memory.
  int CheckStored(const FileEntry& entry, const fs::path& payload_path, int expected, std::string& problem) {
    const uint64_t size = FileSizeOf(payload_path);
    if (size != Number(entry.size)) {
      problem = "rebuilt file has " + std::to_string(size) + " bytes, expected " + entry.size;
      return -1;
    }
    const std::string crc = FileCrcText(payload_path);
    if (crc != entry.crc) {
      problem = "rebuilt file has checksum " + crc + ", expected " + entry.crc;
      return -1;
    }
    if (expected >= 0) {
      const Content& want = contents_.Get(expected);
      if (want.size == size && !want.source.empty() && SameContent(want.source, payload_path)) return expected;
    }
    return contents_.AddDetached(size, crc);
  }

  int DecodeOnce(const FileEntry& entry, uint16_t id, int input, int expected, std::string& problem) {
    ++decoded_;
    const fs::path payload_path = PayloadPath(resources_, id);
    if (!fs::exists(payload_path)) {
      problem = "payload resource " + std::to_string(id) + " is missing; the patcher stops with an internal error";
      return -1;
    }
    if (!entry.comp && !(entry.diff && entry.kind == EntryKind::Updated))
      return CheckStored(entry, payload_path, expected, problem);
    const Bytes payload = ReadWholeFile(payload_path);
    if (entry.comp && Number(entry.comp_size) != payload.size()) {
      problem = "payload size differs from its manifest";
      return -1;
    }
    std::optional<Bytes> old;
    if (input >= 0) {
      const Content& c = contents_.Get(input);
      if (c.source.empty()) {
        problem = "the diff would apply to content the replay cannot read back";
        return -1;
      }
      old = ReadWholeFile(c.source);
    }
    // A stored whole file is its own content: checked where it lies, not copied.
    const int comp_form = entry.comp ? entry.comp_form : 0;
    const int diff_form = entry.diff && entry.kind == EntryKind::Updated ? entry.diff_form : 0;
    Bytes decoded;
    if (comp_form != 0 || diff_form != 0) {
      decoded.reserve(Number(entry.size));
      if (!DecodePayload(comp_form, diff_form, payload, old ? &*old : nullptr, decoded)) {
        problem = "payload does not decode with the patcher's code; the patcher stops with 215";
        return -1;
      }
    }
    const Bytes& out = comp_form != 0 || diff_form != 0 ? decoded : payload;
    old.reset();
    if (out.size() != Number(entry.size)) {
      problem = "rebuilt file has " + std::to_string(out.size()) + " bytes, expected " + entry.size;
      return -1;
    }
    const std::string crc = CrcText(out);
    if (crc != entry.crc) {
      problem = "rebuilt file has checksum " + crc + ", expected " + entry.crc;
      return -1;
    }
    if (expected >= 0) {
      const Content& want = contents_.Get(expected);
      if (want.size == out.size() && FileHolds(want.source, out)) return expected;
    }
    return contents_.AddDetached(out.size(), crc);
  }

  const PatchPlan& plan_;
  fs::path resources_;
  size_t set_;
  std::string prefix_;
  Contents contents_;
  std::vector<std::vector<PackFiles>> packs_;
  std::map<uint16_t, Bytes> manifests_;
  std::map<std::tuple<uint16_t, int, int>, std::pair<int, std::string>> memo_;
  std::vector<std::string> problems_;
  std::set<std::string> refused_;
  std::map<std::string, uint64_t> required_;  // required space of each language's sections
  size_t decoded_ = 0;
};

}  // namespace

bool InflateWithProductCode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out,
                            int codec) {
  out.clear();
  VectorSource source(stream);
  VectorSink sink(out);
  if (codec == 2) return XzDecodeStream(source, sink, nullptr);
  return codec == 1 && InflateStream(source, sink, nullptr);
}

bool ApplyWithProductCode(const std::vector<uint8_t>& old, const std::vector<uint8_t>& diff,
                          std::vector<uint8_t>& out, int form) {
  diff::MemoryDiffReader old_reader(old.data(), old.size());
  diff::MemoryDiffReader diff_reader(diff.data(), diff.size());
  IntoVector writer(out);
  bool ok = false;
  if (form == 3) {
    const diff::OpenReader open_old = [&old] {
      return std::make_unique<diff::MemoryDiffReader>(old.data(), old.size());
    };
    const diff::OpenReader open_diff = [&diff] {
      return std::make_unique<diff::MemoryDiffReader>(diff.data(), diff.size());
    };
    ok = diff::DecodeArchiveDiff(writer, open_old, open_diff);
  } else if (form == 2) {
    diff::MemoryDiffReader differences(diff.data(), diff.size());
    diff::MemoryDiffReader extra(diff.data(), diff.size());
    ok = diff::DecodeStreamDiff(writer, old_reader, diff_reader, differences, extra);
  } else {
    ok = form == 1 && diff::DecodeDiff(writer, old_reader, diff_reader);
  }
  return writer.Flush() && ok;
}

bool DecodePayload(int comp_form, int diff_form, const std::vector<uint8_t>& payload,
                   const std::vector<uint8_t>* old, std::vector<uint8_t>& out) {
  Bytes content;
  if (comp_form == 0) content = payload;
  else if (!InflateWithProductCode(payload, content, comp_form)) return false;
  if (diff_form == 0) {
    out = std::move(content);
    return true;
  }
  if (old == nullptr) return false;
  try {
    return ApplyWithProductCode(*old, content, out, diff_form);
  } catch (const std::runtime_error&) {  // "Cannot load page"
    return false;
  }
}

std::string RebuildWithProductCode(int comp_form, int diff_form, const std::vector<uint8_t>& old,
                                   const std::vector<uint8_t>& payload, std::vector<uint8_t>& out,
                                   uint64_t diff_size) {
  if (diff_form != 0 && diff_size != kAnySize) {
    Bytes content = payload;
    if (comp_form != 0 && !InflateWithProductCode(payload, content, comp_form))
      return "payload does not inflate";
    if (content.size() != diff_size) return "inflated diff size differs from diff_size";
  }
  if (!DecodePayload(comp_form, diff_form, payload, &old, out))
    return "payload does not decode with the patcher's code";
  return {};
}

std::string RebuildFromShippedDiff(const std::vector<uint8_t>& old,
                                   const std::vector<uint8_t>& shipped, std::vector<uint8_t>& out) {
  const bool stream_diff = shipped.size() >= sizeof diff::kStreamDiffMagic &&
                           std::memcmp(shipped.data(), diff::kStreamDiffMagic,
                                       sizeof diff::kStreamDiffMagic) == 0;
  if (stream_diff) return RebuildWithProductCode(0, 2, old, shipped, out);
  const bool archive_diff = shipped.size() >= sizeof diff::kArchiveDiffMagic &&
                            std::memcmp(shipped.data(), diff::kArchiveDiffMagic,
                                        sizeof diff::kArchiveDiffMagic) == 0;
  if (archive_diff) return RebuildWithProductCode(0, 3, old, shipped, out);
  const bool zlib = shipped.size() >= 2 && shipped[0] == 0x78 &&
                    ((shipped[0] << 8) | shipped[1]) % 31 == 0;
  return RebuildWithProductCode(zlib ? 1 : 0, 1, old, shipped, out);
}

CheckResult SelfCheck(const PatchPlan& plan, const fs::path& resources, bool show_progress) {
  CheckResult result;
  // Every starting version's set, each on its own old installation.
  std::vector<const PatchPlan*> sets{&plan};
  for (const PatchPlan& other : plan.other_starts) sets.push_back(&other);
  std::vector<std::unique_ptr<Replayer>> replayers;
  std::vector<std::vector<Selection>> selected(sets.size());
  uint64_t total_bytes = 0;
  for (size_t k = 0; k < sets.size(); ++k) {
    const std::string prefix = sets.size() > 1 ? "from " + sets[k]->project.from + ", " : "";
    replayers.push_back(std::make_unique<Replayer>(*sets[k], resources, k, prefix));
    for (const Language& language : kLanguages) {
      selected[k].push_back(replayers[k]->Select(language));
      for (const auto& entry : selected[k].back().files) {
        ++result.entries;
        if (entry->kind != EntryKind::Deleted) total_bytes += static_cast<uint64_t>(ReadManifestNumber(entry->size));
      }
    }
  }
  std::unique_ptr<ProgressBar> bar;
  if (show_progress) bar = std::make_unique<ProgressBar>("checking", result.entries, total_bytes);
  for (size_t k = 0; k < sets.size(); ++k) {
    for (size_t l = 0; l < std::size(kLanguages); ++l)
      replayers[k]->Replay(kLanguages[l], selected[k][l], bar.get());
    result.problems.insert(result.problems.end(), replayers[k]->problems().begin(),
                           replayers[k]->problems().end());
    result.decoded += replayers[k]->decoded();
  }
  if (bar) bar->Finish();
  // Files the save removal would take, once however many starting versions meet them.
  std::set<std::string> refused;
  for (const auto& replayer : replayers) refused.insert(replayer->refused().begin(), replayer->refused().end());
  result.refused.assign(refused.begin(), refused.end());
  result.starts = sets.size();
  return result;
}

}  // namespace vard::mkpatch
