#include "manifest/pack_selection.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vard {
namespace {

// Embedded resources for one test: bytes by id, and the ids asked for, in order.
class Resources {
 public:
  void Add(std::uint16_t id, std::string bytes) {
    data_[id] = std::move(bytes);
    limits_.erase(id);
  }
  // Makes resource id expose only its first length bytes.
  void Limit(std::uint16_t id, std::size_t length) { limits_[id] = length; }

  ResourceFetcher Fetcher() {
    return [this](std::uint16_t id) {
      fetched.push_back(id);
      auto found = data_.find(id);
      if (found == data_.end()) throw std::runtime_error("Cannot find resource");
      ResourceView view;
      view.bytes = reinterpret_cast<const unsigned char*>(found->second.data());
      view.length = limits_.count(id) ? limits_[id] : found->second.size();
      return view;
    };
  }

  std::vector<std::uint16_t> fetched;

 private:
  std::map<std::uint16_t, std::string> data_;
  std::map<std::uint16_t, std::size_t> limits_;
};

std::string PackWithOneFile(const char* name) {
  return std::string("<patch id=\"0\" required_space=\"1\"><added><file subpath=\"/") + name +
         "\" crc=\"00000001\" size=\"1\" id=\"1\" comp=\"0\"/></added></patch>";
}

// The shape of the shipped main manifest: two sections for everyone, then one per language.
constexpr const char* kMainManifest = R"(<!-- english=0x0009 french=0x040c german=0x0007 -->
<patch>
  <version from="1.00" to="1.01"/>
  <reg_path key="SOFTWARE\KORAX" value="InstallPath"/>
  <language required_space="93812166"><pack root="" id="5002"/></language>
  <language required_space="163563"><pack root="" id="5006"/></language>
  <language name="english" required_space="1000"><pack root="" id="5012"/></language>
  <language name="french" required_space="263710">
    <pack root="local\french" id="5014"/>
    <pack root="" id="5017"/>
  </language>
  <language name="German" required_space="5"><pack root="" id="5019"/></language>
  <language name="german" required_space="7"><pack root="local/german/" id="5019"/></language>
</patch>)";

class PackSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    resources.Add(5001, kMainManifest);
    for (std::uint16_t id : {5002, 5006, 5012, 5014, 5017, 5019}) {
      resources.Add(id, PackWithOneFile(("p" + std::to_string(id)).c_str()));
    }
  }
  std::int64_t Select(std::uint32_t language) {
    return SelectFileEntries(language, resources.Fetcher(), L"D:/Games//X/", list);
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const auto& e : list) names.push_back(e->rel_dir + e->file_name);
    return names;
  }
  std::string FailureOf(std::uint32_t language) {
    try {
      Select(language);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "no failure";
  }

  Resources resources;
  FileEntryList list;
};

TEST_F(PackSelection, FrenchTakesTheCommonSectionsAndItsOwnInDocumentOrder) {
  EXPECT_EQ(Select(1036), 93812166 + 163563 + 263710);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002", L"\\p5006",
                                                 L"local\\french\\p5014", L"\\p5017"}));
  EXPECT_EQ(resources.fetched, (std::vector<std::uint16_t>{5001, 5002, 5006, 5014, 5017}));
  for (const auto& e : list) EXPECT_EQ(e->install_root, L"D:\\Games\\X\\");
}

TEST_F(PackSelection, EachLanguageByItsTableValue) {
  EXPECT_EQ(Select(9), 93812166 + 163563 + 1000);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002", L"\\p5006", L"\\p5012"}));
  list.clear();
  // Names compare exactly: "German" is not "german". The pack root is cleaned.
  EXPECT_EQ(Select(7), 93812166 + 163563 + 7);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002", L"\\p5006", L"local\\german\\p5019"}));
  list.clear();
  // No section for these two: only the common ones.
  EXPECT_EQ(Select(10), 93812166 + 163563);
  list.clear();
  EXPECT_EQ(Select(16), 93812166 + 163563);
}

TEST_F(PackSelection, LanguagesOutsideTheTableAreRefusedBeforeAnythingIsRead) {
  // 0x0409 is English's full id, 12 French's primary id: only 9 and 0x040C are in the table.
  for (std::uint32_t language : {0u, 0x0409u, 12u, 0x0407u, 0x10009u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FailureOf(language), "Bad language") << language;
  }
  EXPECT_TRUE(resources.fetched.empty());
  EXPECT_TRUE(list.empty());
}

TEST_F(PackSelection, EachStartingVersionTakesOnlyTheSectionsOfItsSet) {
  resources.Add(5001, R"(<patch>
  <language required_space="1"><pack root="" id="5002"/></language>
  <set from="0.90">
    <language required_space="20"><pack root="" id="5006"/></language>
    <language name="french" required_space="300"><pack root="" id="5014"/></language>
  </set>
  <language name="english" required_space="4000"><pack root="" id="5012"/></language>
  <set from="0.95"><language required_space="50000"><pack root="" id="5017"/></language></set>
</patch>)");
  EXPECT_EQ(SelectFileEntries(9, resources.Fetcher(), L"C:\\G", list, nullptr, 0), 4001);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002", L"\\p5012"}));
  list.clear();
  EXPECT_EQ(SelectFileEntries(1036, resources.Fetcher(), L"C:\\G", list, nullptr, 1), 320);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5006", L"\\p5014"}));
  list.clear();
  EXPECT_EQ(SelectFileEntries(9, resources.Fetcher(), L"C:\\G", list, nullptr, 2), 50000);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5017"}));
  list.clear();
  EXPECT_THROW(SelectFileEntries(9, resources.Fetcher(), L"C:\\G", list, nullptr, 3), std::runtime_error);
  EXPECT_TRUE(list.empty());
}

TEST_F(PackSelection, RequiredSpaceIsASigned64BitSumOfTheSelectedSections) {
  resources.Add(5001, R"(<patch>
      <language required_space="  +6000000000x"/>
      <language required_space="none"/>
      <language name="english" required_space="-1000"/>
      <language name="french"/>
    </patch>)");
  // Sections without packs still count; a text without digits adds 0; the skipped French
  // section may lack the attribute.
  EXPECT_EQ(Select(9), 6000000000LL - 1000);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(FailureOf(1036), "Bad patch.xml");
}

TEST_F(PackSelection, RequiredSpaceBelowZeroStaysNegative) {
  resources.Add(5001, R"(<patch><language required_space="-5"/></patch>)");
  EXPECT_EQ(Select(9), -5);
}

TEST_F(PackSelection, PackAttributesAreRequired) {
  resources.Add(5001, R"(<patch><language required_space="1"><pack id="5002"/></language></patch>)");
  EXPECT_EQ(FailureOf(9), "Bad patch.xml");
  resources.Add(5001, R"(<patch><language required_space="1"><pack root=""/></language></patch>)");
  EXPECT_EQ(FailureOf(9), "Bad patch.xml");
  // An id without digits asks for resource 0.
  resources.fetched.clear();
  resources.Add(5001, R"(<patch><language required_space="1"><pack root="" id="x"/></language></patch>)");
  EXPECT_EQ(FailureOf(9), "Cannot find resource");
  EXPECT_EQ(resources.fetched.back(), 0);
}

TEST_F(PackSelection, PackIdsUseTheirLow16Bits) {
  resources.Add(5001, R"(<patch><language required_space="1"><pack root="" id="70538"/></language></patch>)");
  Select(9);
  EXPECT_EQ(resources.fetched.back(), 5002);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002"}));
}

TEST_F(PackSelection, AddedThenUpdatedThenDeletedWhateverTheDocumentOrder) {
  resources.Add(5001, R"(<patch><language required_space="1"><pack root="" id="5002"/></language></patch>)");
  resources.Add(5002, R"(<patch>
      <deleted><file subpath="/d1"/><file subpath="/d2"/></deleted>
      <updated><file subpath="/u1" crc="1" size="1" id="7" comp="0" crc_org="2" size_org="2" diff="0"/></updated>
      <added><file subpath="/a1" crc="1" size="1" id="8" comp="0"/><other/><file subpath="/a2" crc="1" size="1" id="9" comp="0"/></added>
      <added><file subpath="/ignored" crc="1" size="1" id="9" comp="0"/></added>
    </patch>)");
  Select(9);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\a1", L"\\a2", L"\\u1", L"\\d1", L"\\d2"}));
  EXPECT_EQ(list[0]->kind, EntryKind::Added);
  EXPECT_EQ(list[2]->kind, EntryKind::Updated);
  EXPECT_EQ(list[3]->kind, EntryKind::Deleted);
}

TEST_F(PackSelection, ManifestsWithoutAPatchElement) {
  resources.Add(5002, "<patchx/><!-- nothing -->");
  EXPECT_EQ(FailureOf(9), "Invalid sub patch");
  EXPECT_TRUE(list.empty());
  // Entries of the packs read before the faulty one stay in the caller's list.
  resources.Add(5002, PackWithOneFile("ok"));
  resources.Add(5006, "");
  EXPECT_EQ(FailureOf(9), "Invalid sub patch");
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\ok"}));
  list.clear();

  resources.Add(5001, "<?xml version=\"1.0\"?><!-- <patch> --><language required_space=\"1\"/>");
  EXPECT_EQ(FailureOf(9), "Invalid main_xml");
  resources.Add(5001, "not xml at all");
  EXPECT_EQ(FailureOf(9), "Invalid main_xml");
}

TEST_F(PackSelection, AFaultyFileEndsTheSelectionAndIsNotAppended) {
  resources.Add(5006, R"(<patch><added><file subpath="/x" crc="1" size="1" id="1" comp="0"/>
      <file subpath="/y" crc="1" size="1" id="1"/></added></patch>)");
  EXPECT_EQ(FailureOf(9), "FilePatch");
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\p5002", L"\\x"}));
}

TEST_F(PackSelection, ReadsNoFurtherThanTheResourceLength) {
  // Only the comment lies within the length; the manifest behind it must not be seen.
  const std::string comment = "<!-- manifest -->";
  resources.Add(5001, comment + kMainManifest);
  resources.Limit(5001, comment.size());
  EXPECT_EQ(FailureOf(9), "Invalid main_xml");
  // Cut inside a pack manifest: its second file lies beyond the length.
  const std::string pack = R"(<patch><added><file subpath="/in" crc="1" size="1" id="1" comp="0"/>)";
  resources.Add(5001, R"(<patch><language required_space="1"><pack root="" id="5002"/></language></patch>)");
  resources.Add(5002, pack + R"(<file subpath="/beyond" crc="1" size="1" id="1" comp="0"/></added></patch>)");
  resources.Limit(5002, pack.size());
  Select(9);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"\\in"}));
}

TEST_F(PackSelection, FoldersAreReadOnlyWhenAskedForAndNeverChangeTheFileEntries) {
  // A pack as mkpatch writes it when the new version adds an empty folder and drops one.
  resources.Add(5014, R"(<patch id="5014"><added><file subpath="/a.txt" crc="00000001" size="1" id="1" comp="0"/></added>
    <folders><remove subpath="/old/inner"/><remove subpath="/old"/><create subpath="/saves\\empty"/><other subpath="/x"/></folders>
    <deleted><file subpath="/gone.txt"/></deleted></patch>)");
  Select(1036);  // as a patcher that predates folders reads it
  const std::vector<std::wstring> files = Names();
  EXPECT_EQ(files, (std::vector<std::wstring>{L"\\p5002", L"\\p5006", L"local\\french\\a.txt",
                                              L"local\\french\\gone.txt", L"\\p5017"}));
  list.clear();
  FolderEntryList folders;
  SelectFileEntries(1036, resources.Fetcher(), L"D:/Games//X/", list, &folders);
  EXPECT_EQ(Names(), files);
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_EQ(TargetPath(folders[0].folder), L"D:\\Games\\X\\local\\french\\old\\inner");
  EXPECT_TRUE(folders[0].remove);
  EXPECT_EQ(TargetPath(folders[1].folder), L"D:\\Games\\X\\local\\french\\old");
  EXPECT_EQ(TargetPath(folders[2].folder), L"D:\\Games\\X\\local\\french\\saves\\empty");
  EXPECT_FALSE(folders[2].remove);

  // A folder subpath that leaves the pack is refused as a file's would be.
  resources.Add(5014, R"(<patch><folders><remove subpath="/../../Windows"/></folders></patch>)");
  list.clear();
  EXPECT_THROW(SelectFileEntries(1036, resources.Fetcher(), L"D:/X", list, &folders), std::runtime_error);
}

}  // namespace
}  // namespace vard
