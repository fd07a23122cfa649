// The walk of a data directory over a file system held in memory: which folders it enters
// and which files it deletes when links stand where folders and saves should be; and which
// folders a location file may name.
#include "cleanup/save_walk.h"

#include "cleanup/save_location.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vard {
namespace {

constexpr std::uint32_t kFile = 0x20;
constexpr std::uint32_t kFolder = kAttributeDirectory;
constexpr std::uint32_t kFolderLink = kAttributeDirectory | kAttributeReparsePoint;
constexpr std::uint32_t kFileLink = kFile | kAttributeReparsePoint;

class MemoryFiles : public SaveFileSystem {
 public:
  std::map<std::wstring, std::uint32_t> entries;  // full path -> attributes
  std::set<std::wstring> kept;
  std::vector<std::wstring> deleted;
  std::multiset<std::wstring> held;
  std::vector<std::set<std::wstring>> held_at_delete;

  std::shared_ptr<void> Hold(const std::wstring& path, std::uint32_t& attributes) override {
    if (!Attributes(path, attributes)) return nullptr;
    held.insert(path);
    return std::shared_ptr<void>(new int(0), [this, path](void* p) {
      held.erase(held.find(path));
      delete static_cast<int*>(p);
    });
  }
  bool Attributes(const std::wstring& path, std::uint32_t& attributes) {
    const auto found = entries.find(path);
    if (found == entries.end()) return false;
    attributes = found->second;
    return true;
  }
  std::vector<std::wstring> List(const std::wstring& folder, bool want_folders) override {
    std::vector<std::wstring> names;
    for (const auto& [path, attributes] : entries) {
      if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) continue;
      const std::wstring name = path.substr(folder.size());
      if (name.find(L'\\') != std::wstring::npos) continue;
      if (((attributes & kAttributeDirectory) != 0) == want_folders) names.push_back(name);
    }
    return names;
  }
  // Relative paths are resolved against C:\Work, as if it were the current folder.
  std::wstring FullPath(const std::wstring& path) override {
    if (path == L"unresolvable\\") return std::wstring();
    const bool absolute = path.rfind(L"\\\\", 0) == 0 || path.find(L':') == 1;
    return absolute ? path : L"C:\\Work\\" + path;
  }
  // The file as it was when opened: later changes to entries do not reach it.
  class File final : public SaveFile {
   public:
    File(MemoryFiles& files, std::wstring path, std::uint32_t attributes)
        : files_(files), path_(std::move(path)), attributes_(attributes) {}
    std::uint32_t attributes() const override { return attributes_; }
    bool IsKept() override { return files_.kept.count(path_) != 0; }
    void Delete() override {
      files_.deleted.push_back(path_);
      files_.held_at_delete.emplace_back(files_.held.begin(), files_.held.end());
    }

   private:
    MemoryFiles& files_;
    std::wstring path_;
    std::uint32_t attributes_;
  };
  std::unique_ptr<SaveFile> Open(const std::wstring& path) override {
    std::uint32_t attributes = 0;
    if (!Attributes(path, attributes)) return nullptr;
    return std::make_unique<File>(*this, path, attributes);
  }

  // A data directory as a game leaves it, with the folders above it: profile "a" with two
  // saves, one of them kept.
  void AddDataDirectory(const std::wstring& root) {
    for (std::size_t at = root.find(L'\\', 3); at != std::wstring::npos;
         at = root.find(L'\\', at + 1)) {
      entries[root.substr(0, at)] = kFolder;
    }
    for (const wchar_t* folder : {L"", L"\\settings", L"\\settings\\profiles",
                                  L"\\settings\\profiles\\a", L"\\settings\\profiles\\a\\savegames"}) {
      entries[root + folder] = kFolder;
    }
    entries[root + L"\\settings\\profiles\\a\\savegames\\one.sav"] = kFile;
    entries[root + L"\\settings\\profiles\\a\\savegames\\kept.sav"] = kFile;
    kept.insert(root + L"\\settings\\profiles\\a\\savegames\\kept.sav");
  }
};

TEST(WalkDataDirectory, DeletesPlainUnkeptSavesWhileTheWholeChainIsHeld) {
  MemoryFiles files;
  files.AddDataDirectory(L"C:\\Users\\Ann\\Data");
  WalkDataDirectory(files, L"C:/Users/Ann/Data/");
  const std::wstring data = L"C:\\Users\\Ann\\Data";
  ASSERT_EQ(files.deleted,
            std::vector<std::wstring>{data + L"\\settings\\profiles\\a\\savegames\\one.sav"});
  EXPECT_EQ(files.held_at_delete[0],
            (std::set<std::wstring>{L"C:\\Users", L"C:\\Users\\Ann", data, data + L"\\settings",
                                    data + L"\\settings\\profiles",
                                    data + L"\\settings\\profiles\\a",
                                    data + L"\\settings\\profiles\\a\\savegames"}));
  EXPECT_TRUE(files.held.empty());
}

TEST(WalkDataDirectory, DeletesNothingBelowALinkAboveTheDataDirectory) {
  // A location file names C:\Users\Ann\Data; a folder on the way there is a link (or is
  // missing): the walk does not start.
  for (const wchar_t* above : {L"C:\\Users", L"C:\\Users\\Ann"}) {
    for (const bool missing : {false, true}) {
      MemoryFiles files;
      files.AddDataDirectory(L"C:\\Users\\Ann\\Data");
      if (missing) {
        files.entries.erase(above);
      } else {
        files.entries[above] = kFolderLink;
      }
      WalkDataDirectory(files, L"C:\\Users\\Ann\\Data");
      EXPECT_TRUE(files.deleted.empty()) << std::wstring(above).size() << missing;
    }
  }
  // A relative path is judged where the system resolves it: below the current folder.
  MemoryFiles relative;
  relative.AddDataDirectory(L"C:\\Work\\Data");
  relative.entries[L"C:\\Work"] = kFolderLink;
  WalkDataDirectory(relative, L"Data");
  EXPECT_TRUE(relative.deleted.empty());
  relative.entries[L"C:\\Work"] = kFolder;
  WalkDataDirectory(relative, L"Data");
  EXPECT_EQ(relative.deleted.size(), 1u);
  // On a share the share itself is the root; the folders below it are checked.
  MemoryFiles share;
  share.AddDataDirectory(L"\\\\server\\share\\Games\\Data");
  share.entries[L"\\\\server\\share\\Games"] = kFolderLink;
  WalkDataDirectory(share, L"\\\\server\\share\\Games\\Data");
  EXPECT_TRUE(share.deleted.empty());
  MemoryFiles unresolvable;
  unresolvable.AddDataDirectory(L"C:\\Work\\unresolvable");
  WalkDataDirectory(unresolvable, L"unresolvable");
  EXPECT_TRUE(unresolvable.deleted.empty());
}

TEST(WalkDataDirectory, NeverEntersOrDeletesThroughAReparsePoint) {
  // Each folder of the chain in turn is a link (a junction or a symbolic link to a folder
  // elsewhere): nothing below it is touched.
  for (const wchar_t* linked : {L"", L"\\settings", L"\\settings\\profiles",
                                L"\\settings\\profiles\\a", L"\\settings\\profiles\\a\\savegames"}) {
    MemoryFiles files;
    files.AddDataDirectory(L"C:\\Data");
    files.entries[std::wstring(L"C:\\Data") + linked] = kFolderLink;
    WalkDataDirectory(files, L"C:\\Data");
    EXPECT_TRUE(files.deleted.empty()) << std::wstring(linked).size();
  }
  // A linked profile beside a plain one: only the plain one is cleaned. A save that is a
  // link is not deleted either, nor is an entry that can no longer be read.
  MemoryFiles files;
  files.AddDataDirectory(L"C:\\Data");
  files.entries[L"C:\\Data\\settings\\profiles\\b"] = kFolderLink;
  files.entries[L"C:\\Data\\settings\\profiles\\b\\savegames"] = kFolder;
  files.entries[L"C:\\Data\\settings\\profiles\\b\\savegames\\victim"] = kFile;
  files.entries[L"C:\\Data\\settings\\profiles\\a\\savegames\\link.sav"] = kFileLink;
  WalkDataDirectory(files, L"C:\\Data");
  EXPECT_EQ(files.deleted, std::vector<std::wstring>{
                               L"C:\\Data\\settings\\profiles\\a\\savegames\\one.sav"});
}

TEST(WalkDataDirectory, ANetworkDataDirectoryStaysOnItsShare) {
  MemoryFiles files;
  files.AddDataDirectory(L"\\\\server\\share\\Data");
  WalkDataDirectory(files, L"\\\\server\\share\\Data");
  EXPECT_EQ(files.deleted, std::vector<std::wstring>{
                               L"\\\\server\\share\\Data\\settings\\profiles\\a\\savegames\\one.sav"});
  MemoryFiles empty;
  WalkDataDirectory(empty, L"");
  EXPECT_TRUE(empty.deleted.empty());
}

TEST(IsLocalLocation, OnlyDrivesAndVolumesOfThisMachine) {
  wchar_t drive = 0;
  EXPECT_TRUE(IsLocalLocation(L"C:\\Users\\Ann", drive));
  EXPECT_EQ(drive, L'C');
  EXPECT_TRUE(IsLocalLocation(L"\\\\?\\e:\\Saves", drive));
  EXPECT_EQ(drive, L'E');
  EXPECT_TRUE(IsLocalLocation(L"\\\\?\\Volume{0b1c}\\Saves", drive));
  EXPECT_EQ(drive, 0);
  for (const wchar_t* elsewhere :
       {L"\\\\server\\share\\Saves", L"//server/share/Saves", L"\\\\?\\UNC\\server\\share",
        L"\\\\.\\UNC\\server\\share", L"\\??\\UNC\\server\\share",
        L"\\\\server@SSL@443\\DavWWWRoot\\Saves", L"\\\\?\\GLOBALROOT\\Device\\Mup\\server",
        L"\\\\.\\pipe\\x", L"1:\\Saves", L"Saves", L""}) {
    EXPECT_FALSE(IsLocalLocation(elsewhere, drive)) << elsewhere;
  }
}

}  // namespace
}  // namespace vard
