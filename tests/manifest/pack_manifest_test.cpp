#include "manifest/pack_manifest.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <stdexcept>
#include <string>

namespace vard {
namespace {

const std::wstring kRoot = L"D:\\Games\\X\\";

// Owns the parsed document of one "file" element.
struct FileXml {
  explicit FileXml(const char* xml) { document.Parse(xml, nullptr, TIXML_ENCODING_UTF8); }
  const TiXmlElement& element() const { return *document.FirstChildElement("file"); }
  TiXmlDocument document;
};

std::unique_ptr<FileEntry> Parse(const char* xml, EntryKind kind,
                                 const std::wstring& pack_root = L"") {
  FileXml file(xml);
  return ParseFileEntry(file.element(), kind, kRoot, pack_root);
}

void ExpectFilePatch(const char* xml, EntryKind kind, const std::wstring& pack_root = L"") {
  try {
    Parse(xml, kind, pack_root);
    ADD_FAILURE() << "no failure for " << xml;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "FilePatch") << xml;
  }
}

constexpr const char* kUpdated =
    R"(<file subpath="/bin/game.exe" crc="02af3115" size="12363392" id="5008" comp="1"
         comp_size="871284" crc_org="cb04501d" size_org="12362880" diff="1"
         diff_size="2060418"/>)";

TEST(ParseFileEntry, UpdatedEntryKeepsEveryTextAsWritten) {
  auto e = Parse(kUpdated, EntryKind::Updated);
  EXPECT_EQ(e->kind, EntryKind::Updated);
  EXPECT_EQ(e->rel_dir, L"\\bin\\");
  EXPECT_EQ(e->file_name, L"game.exe");
  EXPECT_EQ(e->install_root, kRoot);
  EXPECT_EQ(e->crc, "02af3115");
  EXPECT_EQ(e->size, "12363392");
  EXPECT_EQ(e->id, 5008);
  EXPECT_TRUE(e->comp);
  EXPECT_EQ(e->comp_size, "871284");
  EXPECT_EQ(e->crc_org, "cb04501d");
  EXPECT_EQ(e->size_org, "12362880");
  EXPECT_TRUE(e->diff);
  EXPECT_EQ(e->diff_size, "2060418");
  EXPECT_EQ(e->entry_node, nullptr);
  EXPECT_EQ(TargetPath(*e), L"D:\\Games\\X\\bin\\game.exe");
  EXPECT_EQ(DisplayName(*e), L"bin\\game.exe");
}

// An overlay payload's place is read exactly, 64-bit; anything else in those attributes
// fails the run rather than reading some other bytes of the executable.
TEST(ParseFileEntry, OverlayPlaceIsExactAnd64Bit) {
  EXPECT_FALSE(Parse(kUpdated, EntryKind::Updated)->in_overlay);
  auto e = Parse(R"(<file subpath="/a.pak" crc="00000001" size="9" id="5003" comp="0"
                     overlay="6442450944" overlay_size="18446744073709551615" overlay_crc="0a1b2c3d"/>)",
                 EntryKind::Added);
  EXPECT_TRUE(e->in_overlay);
  EXPECT_EQ(e->overlay_offset, 6442450944u);
  EXPECT_EQ(e->overlay_size, UINT64_MAX);
  EXPECT_EQ(e->overlay_crc, 0x0a1b2c3du);
  for (const char* bad : {R"(overlay="-1" overlay_size="9" overlay_crc="0a1b2c3d")",
                          R"(overlay="18446744073709551616" overlay_size="9" overlay_crc="0a1b2c3d")",
                          R"(overlay="12 " overlay_size="9" overlay_crc="0a1b2c3d")",
                          R"(overlay="" overlay_size="9" overlay_crc="0a1b2c3d")",
                          R"(overlay="0" overlay_crc="0a1b2c3d")",
                          R"(overlay="0" overlay_size="9" overlay_crc="0A1B2C3D")",
                          R"(overlay="0" overlay_size="9" overlay_crc="a1b2c3d")"}) {
    const std::string xml =
        std::string(R"(<file subpath="/a.pak" crc="00000001" size="9" id="5003" comp="0" )") + bad + "/>";
    ExpectFilePatch(xml.c_str(), EntryKind::Added);
  }
}

TEST(ParseFileEntry, ANetworkInstallRootStaysOneThroughJoining) {
  FileXml file(kUpdated);
  // A pack root written with two separators is a folder below the root, not a share.
  auto e = ParseFileEntry(file.element(), EntryKind::Updated, L"\\\\server\\share\\Game\\",
                          L"//local");
  EXPECT_EQ(TargetPath(*e), L"\\\\server\\share\\Game\\local\\bin\\game.exe");
}

TEST(ParseFileEntry, DeletedEntryNeedsOnlyTheSubpath) {
  auto e = Parse(R"(<file subpath="/old/readme.txt"/>)", EntryKind::Deleted);
  EXPECT_EQ(e->kind, EntryKind::Deleted);
  EXPECT_EQ(e->rel_dir, L"\\old\\");
  EXPECT_EQ(e->file_name, L"readme.txt");
  EXPECT_TRUE(e->crc.empty());
  EXPECT_TRUE(e->size.empty());
  EXPECT_EQ(e->id, 0);
  ExpectFilePatch(R"(<file crc="02af3115"/>)", EntryKind::Deleted);
}

TEST(ParseFileEntry, PackRootAndSubpathJoin) {
  auto french = Parse(R"(<file subpath="/strings/menu.xml"/>)", EntryKind::Deleted,
                      L"local\\french");
  EXPECT_EQ(french->rel_dir, L"local\\french\\strings\\");
  EXPECT_EQ(french->file_name, L"menu.xml");
  EXPECT_EQ(DisplayName(*french), L"local\\french\\strings\\menu.xml");
  EXPECT_EQ(TargetPath(*french), L"D:\\Games\\X\\local\\french\\strings\\menu.xml");

  // The pack root is cleaned once more here.
  auto messy_root = Parse(R"(<file subpath="/strings/menu.xml"/>)", EntryKind::Deleted,
                          L"/local//french/");
  EXPECT_EQ(messy_root->rel_dir, L"local\\french\\strings\\");

  auto top = Parse(R"(<file subpath="/patch_history.txt"/>)", EntryKind::Deleted);
  EXPECT_EQ(top->rel_dir, L"\\");
  EXPECT_EQ(top->file_name, L"patch_history.txt");
  EXPECT_EQ(DisplayName(*top), L"patch_history.txt");
  EXPECT_EQ(TargetPath(*top), L"D:\\Games\\X\\patch_history.txt");

  for (const char* xml : {R"(<file subpath="\bundles\patch.bundle"/>)",
                          R"(<file subpath="//bundles///patch.bundle"/>)",
                          R"(<file subpath="bundles/patch.bundle/"/>)"}) {
    auto e = Parse(xml, EntryKind::Deleted);
    EXPECT_EQ(e->rel_dir, L"\\bundles\\") << xml;
    EXPECT_EQ(e->file_name, L"patch.bundle") << xml;
  }
}

TEST(ParseFileEntry, SubpathIsUtf8) {
  auto e = Parse("<file subpath=\"/Caf\xC3\xA9/r\xC3\xA9sum\xC3\xA9.txt\"/>", EntryKind::Deleted);
  EXPECT_EQ(e->rel_dir, L"\\Caf\u00E9\\");
  EXPECT_EQ(e->file_name, L"r\u00E9sum\u00E9.txt");
}

// A four-byte character stays a character; bytes that do not decode exactly (here an
// overlong NUL, an overlong '/', a value above U+10FFFF, a stray byte) would name another
// file than the one meant ("Saves" + NUL is the Saves folder itself) and are refused.
TEST(ParseFileEntry, NamesThatDoNotDecodeExactlyFail) {
  auto e = Parse("<file subpath=\"/Saves\xF0\x90\x80\x80\"/>", EntryKind::Deleted);
  EXPECT_EQ(e->file_name, (std::wstring{L'S', L'a', L'v', L'e', L's', wchar_t(0xD800), wchar_t(0xDC00)}));
  for (const char* subpath : {"/Saves\xC0\x80", "/a\xC0\xAF..\xC0\xAF" "b", "/\xF4\x90\x80\x80",
                              "/Saves\xF0\x90\x80", "/x\x80"}) {
    const std::string xml = std::string(R"(<file subpath=")") + subpath + R"("/>)";
    ExpectFilePatch(xml.c_str(), EntryKind::Deleted);
  }
}

TEST(ParseFileEntry, EveryRequiredAttributeOfAnAddedEntry) {
  EXPECT_NO_THROW(Parse(R"(<file subpath="/a" crc="1" size="2" id="3" comp="0"/>)",
                        EntryKind::Added));
  ExpectFilePatch(R"(<file crc="1" size="2" id="3" comp="0"/>)", EntryKind::Added);
  ExpectFilePatch(R"(<file subpath="/a" size="2" id="3" comp="0"/>)", EntryKind::Added);
  ExpectFilePatch(R"(<file subpath="/a" crc="1" id="3" comp="0"/>)", EntryKind::Added);
  ExpectFilePatch(R"(<file subpath="/a" crc="1" size="2" comp="0"/>)", EntryKind::Added);
  ExpectFilePatch(R"(<file subpath="/a" crc="1" size="2" id="3"/>)", EntryKind::Added);
  // comp 1 asks for comp_size.
  ExpectFilePatch(R"(<file subpath="/a" crc="1" size="2" id="3" comp="1"/>)", EntryKind::Added);
}

TEST(ParseFileEntry, EveryRequiredAttributeOfAnUpdatedEntry) {
  const char* base = R"(subpath="/a" crc="1" size="2" id="3" comp="0")";
  auto xml = [&](const char* rest) {
    return std::string("<file ") + base + " " + rest + "/>";
  };
  EXPECT_NO_THROW(Parse(xml(R"(crc_org="4" size_org="5" diff="0")").c_str(), EntryKind::Updated));
  ExpectFilePatch(xml(R"(size_org="5" diff="0")").c_str(), EntryKind::Updated);
  ExpectFilePatch(xml(R"(crc_org="4" diff="0")").c_str(), EntryKind::Updated);
  ExpectFilePatch(xml(R"(crc_org="4" size_org="5")").c_str(), EntryKind::Updated);
  ExpectFilePatch(xml(R"(crc_org="4" size_org="5" diff="1")").c_str(), EntryKind::Updated);
  // The same element as an added entry does not look at the update attributes at all.
  EXPECT_NO_THROW(Parse(xml(R"(diff="1")").c_str(), EntryKind::Added));
}

TEST(ParseFileEntry, FlagsAreSetOnlyByAnAtoiOfAKnownForm) {
  // Payloads come in forms 1 and 2; diffs in forms 1, 2 and 3 (archives).
  struct Case {
    const char* value;
    int comp_form;  // 0: flag not set
    int diff_form;
  };
  for (const Case c : {Case{"1", 1, 1}, Case{" 01", 1, 1}, Case{"1abc", 1, 1}, Case{"0", 0, 0},
                       Case{"2", 2, 2}, Case{" 2x", 2, 2}, Case{"3", 0, 3}, Case{"4", 0, 0},
                       Case{"true", 0, 0}, Case{"", 0, 0}, Case{"-1", 0, 0},
                       Case{"4294967297", 1, 1}}) {
    const std::string xml = std::string(R"(<file subpath="/a" crc="1" size="2" id="3" comp=")") +
                            c.value + R"(" comp_size="9" crc_org="4" size_org="5" diff=")" +
                            c.value + R"(" diff_size="8"/>)";
    auto e = Parse(xml.c_str(), EntryKind::Updated);
    EXPECT_EQ(e->comp, c.comp_form != 0) << c.value;
    EXPECT_EQ(e->diff, c.diff_form != 0) << c.value;
    EXPECT_EQ(e->comp_form, c.comp_form) << c.value;
    EXPECT_EQ(e->diff_form, c.diff_form) << c.value;
    // The size texts are stored only with their flag.
    EXPECT_EQ(e->comp_size, c.comp_form != 0 ? "9" : "") << c.value;
    EXPECT_EQ(e->diff_size, c.diff_form != 0 ? "8" : "") << c.value;
  }
}

TEST(ParseFileEntry, AddedEntryIgnoresUpdateAttributes) {
  auto e = Parse(R"(<file subpath="/a" crc="1" size="2" id="3" comp="0" crc_org="4"
                        size_org="5" diff="1" diff_size="6"/>)",
                 EntryKind::Added);
  EXPECT_TRUE(e->crc_org.empty());
  EXPECT_TRUE(e->size_org.empty());
  EXPECT_FALSE(e->diff);
  EXPECT_TRUE(e->diff_size.empty());
}

TEST(ParseFileEntry, EmptyTextsCountAsPresentAndIdsReadLikeAtoi) {
  auto e = Parse(R"(<file subpath="/a" crc="" size="" id="" comp="0"/>)", EntryKind::Added);
  EXPECT_EQ(e->crc, "");
  EXPECT_EQ(e->id, 0);
  EXPECT_EQ(Parse(R"(<file subpath="/a" crc="" size="" id=" 70000x" comp="0"/>)",
                  EntryKind::Added)->id,
            70000);
  EXPECT_EQ(Parse(R"(<file subpath="/a" crc="" size="" id="-7" comp="0"/>)",
                  EntryKind::Added)->id,
            -7);
}

TEST(ParseFileEntry, EmptyInstallRootFails) {
  FileXml file(R"(<file subpath="/a"/>)");
  try {
    ParseFileEntry(file.element(), EntryKind::Deleted, L"", L"");
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "FilePatch");
  }
}

// A subpath that names no file would make a deleted entry target the installation folder
// itself; "." and ".." components would reach outside it.
TEST(ParseFileEntry, PathsThatLeaveTheirFolderOrNameNoFileFail) {
  for (const char* subpath : {"", "/", "//", "\\", "..", "/../game.exe", "/a/../../b",
                              "./a", "/a/./b", "/a/..", "/a/.", "/.../b", "/a/.. /b",
                              "\\..\\..\\Windows\\system.ini"}) {
    const std::string xml = std::string(R"(<file subpath=")") + subpath + R"("/>)";
    ExpectFilePatch(xml.c_str(), EntryKind::Deleted);
    const std::string added = std::string(R"(<file subpath=")") + subpath +
                              R"(" crc="1" size="2" id="3" comp="0"/>)";
    ExpectFilePatch(added.c_str(), EntryKind::Added);
  }
  for (const wchar_t* root : {L"..", L"..\\outside", L"local\\..\\..", L"./local", L"local/."}) {
    ExpectFilePatch(R"(<file subpath="/a.txt"/>)", EntryKind::Deleted, root);
  }
  // Dots inside names are ordinary.
  for (const char* subpath : {"/a..b/c.d", "/.hidden", "/..data", "/v1.01/x.."}) {
    const std::string xml = std::string(R"(<file subpath=")") + subpath + R"("/>)";
    EXPECT_NO_THROW(Parse(xml.c_str(), EntryKind::Deleted)) << subpath;
  }
}

}  // namespace
}  // namespace vard
