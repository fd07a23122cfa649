#include "manifest/patch_config.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vard {
namespace {

ResourceView View(const std::string& text) {
  return ResourceView{reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::string FailureOf(const std::string& manifest) {
  try {
    ParsePatchConfig(View(manifest));
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no failure";
}

const char kVersion[] = "<version from=\"1.00\" to=\"1.01\"/>";
const char kPath[] = "<reg_path key=\"SOFTWARE\\Korax\" value=\"Path\"/>";
const char kVer[] = "<reg_version key=\"SOFTWARE\\Korax\" value=\"Version\"/>";
const char kVer2[] = "<reg_version2 key=\"SOFTWARE\\Uninstall\\Korax\" value=\"DisplayVersion\"/>";
const char kLang[] = "<reg_language key=\"SOFTWARE\\Korax\" value=\"Language\"/>";

std::string Patch(const std::string& body) { return "<patch>" + body + "</patch>"; }

TEST(ParsePatchConfig, ReadsTheHeader) {
  const std::string manifest =
      "<!-- english=0x0009 french=0x040c -->\n" +
      Patch(std::string(kVersion) + kPath + kVer + kVer2 + kLang +
            "<language name=\"english\" required_space=\"10\"><pack root=\"\" id=\"5012\"/></language>");
  const PatchConfig config = ParsePatchConfig(View(manifest));
  EXPECT_EQ(config.from, "1.00");
  EXPECT_EQ(config.to, "1.01");
  EXPECT_EQ(config.reg_path.key_path, "SOFTWARE\\Korax");
  EXPECT_EQ(config.reg_path.value_name, "Path");
  EXPECT_EQ(config.reg_version.value_name, "Version");
  EXPECT_EQ(config.reg_version2.key_path, "SOFTWARE\\Uninstall\\Korax");
  EXPECT_EQ(config.reg_version2.value_name, "DisplayVersion");
  EXPECT_EQ(config.reg_language.value_name, "Language");
}

TEST(ParsePatchConfig, LaterElementsOfTheSameNameAreIgnored) {
  const std::string manifest =
      Patch(std::string(kVersion) + "<version from=\"9.00\"/>" + kPath +
            "<reg_path/>" + kVer + kVer2 + kLang) +
      "<patch><version from=\"7.0\" to=\"8.0\"/></patch>";
  const PatchConfig config = ParsePatchConfig(View(manifest));
  EXPECT_EQ(config.from, "1.00");
  EXPECT_EQ(config.reg_path.value_name, "Path");
}

TEST(ParsePatchConfig, FurtherStartingVersionsComeFromSetElementsInOrder) {
  const std::string header = std::string(kVersion) + kPath + kVer + kVer2 + kLang;
  EXPECT_TRUE(ParsePatchConfig(View(Patch(header))).other_from.empty());
  const PatchConfig config = ParsePatchConfig(View(Patch(
      header + "<set from=\"0.90\"><language required_space=\"1\"/></set><set from=\"0.95\"/>")));
  EXPECT_EQ(config.other_from, (std::vector<std::string>{"0.90", "0.95"}));
  // A set that does not say which version it starts from cannot be chosen.
  EXPECT_EQ(FailureOf(Patch(header + "<set from=\"0.90\"/><set/>")), "Invalid main_xml");
}

TEST(ParsePatchConfig, ReportsTheFirstFaultInLookupOrder) {
  const std::string all = std::string(kVersion) + kPath + kVer + kVer2 + kLang;
  EXPECT_EQ(FailureOf(""), "Invalid main_xml");
  EXPECT_EQ(FailureOf("not xml at all"), "Invalid main_xml");
  EXPECT_EQ(FailureOf("<root>" + Patch(all) + "</root>"), "Invalid main_xml");  // not at top
  EXPECT_EQ(FailureOf(Patch(std::string(kPath) + kVer + kVer2 + kLang)), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch("<version to=\"1.01\"/>" + std::string(kPath))), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch("<version from=\"1.00\"/>" + std::string(kPath))), "Invalid main_xml");
  // A reg_ element without an attribute is reported before a later missing element.
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + "<reg_path key=\"k\"/>")),
            "Cannot init regvalue from xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + "<reg_path value=\"v\"/>" + kVer)),
            "Cannot init regvalue from xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + kVer + kVer2 + kLang)), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + kPath + kVer2 + kLang)), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + kPath + kVer + kLang)), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + kPath + kVer + kVer2)), "Invalid main_xml");
  EXPECT_EQ(FailureOf(Patch(std::string(kVersion) + kPath + kVer + kVer2 +
                            "<reg_language key=\"k\"/>")),
            "Cannot init regvalue from xml");
}

TEST(ParsePatchConfig, ElementsAreFoundAmongElementChildrenOnly) {
  // Comments and text that mention a name never match it.
  const std::string manifest = Patch("<!-- <version from=\"1\" to=\"2\"/> -->version" +
                                     std::string(kPath) + kVer + kVer2 + kLang);
  EXPECT_EQ(FailureOf(manifest), "Invalid main_xml");
}

TEST(ParsePatchConfig, ReadsNoFurtherThanTheViewsLength) {
  const std::string full = Patch(std::string(kVersion) + kPath + kVer + kVer2 + kLang);
  // The bytes after the view hold the rest of a valid document; they must not be seen.
  const std::string cut_at = full.substr(0, full.find("<reg_version2"));
  const ResourceView view{reinterpret_cast<const unsigned char*>(full.data()), cut_at.size()};
  try {
    ParsePatchConfig(view);
    FAIL() << "a manifest cut before reg_version2 parsed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid main_xml");
  }
  // Bytes with no terminator after them parse within their length.
  const std::vector<unsigned char> unterminated(full.begin(), full.end());
  EXPECT_EQ(ParsePatchConfig(ResourceView{unterminated.data(), unterminated.size()}).to, "1.01");
}

TEST(RegValueRefFromXml, EmptiesTheRecordBeforeFailing) {
  RegValueRef ref{"old key", "old value"};
  EXPECT_THROW(RegValueRefFromXml(nullptr, ref), std::runtime_error);
  EXPECT_EQ(ref.key_path, "");
  EXPECT_EQ(ref.value_name, "");

  TiXmlDocument doc;
  doc.Parse("<reg_path key=\"K\\Sub\" value=\"\"/>");
  RegValueRefFromXml(doc.FirstChildElement("reg_path"), ref);
  EXPECT_EQ(ref.key_path, "K\\Sub");
  EXPECT_EQ(ref.value_name, "");  // present but empty: stored, and the record is unconfigured
  EXPECT_FALSE(ref.Configured());
}

}  // namespace
}  // namespace vard
