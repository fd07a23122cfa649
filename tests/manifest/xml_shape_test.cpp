// The shape check that runs before TinyXML: what it counts in manifests as mkpatch writes
// them, and the hostile shapes it refuses before the parser sees them.
#include "manifest/xml_shape.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <stdexcept>
#include <string>

#include "manifest/xml_document.h"

namespace vard {
namespace {

XmlShape Measure(const std::string& text) {
  return MeasureXmlShape(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string Repeat(const std::string& piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(MeasureXmlShape, CountsElementsNestingAndAttributesOfAManifest) {
  const XmlShape shape = Measure(
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding='UTF-8'?>\n<!-- <not><an><element> -->\n"
      "<patch><updated><file subpath=\"caf\xC3\xA9 &amp; &#x2e;/a\" crc=\"1\" size='2'/>"
      "<file subpath=\"b\"></file><![CDATA[<x><y>]]></updated>"
      "<deleted><file subpath=\"c\"/></deleted></patch>");
  EXPECT_TRUE(shape.acceptable);
  EXPECT_EQ(shape.elements, 6u);
  EXPECT_EQ(shape.depth, 3u);
  EXPECT_EQ(shape.attributes, 3u);
  EXPECT_TRUE(IsManifestShaped(shape));
}

TEST(MeasureXmlShape, RefusesDeepWideAndHiddenShapes) {
  EXPECT_EQ(Measure(Repeat("<a>", 30000)).depth, 30000u);
  EXPECT_FALSE(IsManifestShaped(Measure(Repeat("<a>", kMaxXmlDepth + 1))));
  EXPECT_TRUE(IsManifestShaped(Measure(Repeat("<a>", kMaxXmlDepth) + Repeat("</a>", kMaxXmlDepth))));
  std::string wide = "<patch";
  for (int i = 0; i < 80000; ++i) wide += " a" + std::to_string(i) + "=\"\"";
  EXPECT_EQ(Measure(wide + "/>").attributes, 80000u);
  // Markup the parser would read past where a plain scan stops: each is refused outright.
  for (const std::string piece :
       {"<a v=\"/>\">", "<a v=\"&#x\"/>x41;\">", "<a v=\"\xC3\"/>\">", "<a>&#x</a>x41;",
        "<a v='<b>'>"}) {
    EXPECT_FALSE(Measure(piece).acceptable) << piece;
  }
  EXPECT_FALSE(Measure("<?xml a=\" version=\" ><!--\" ?><a>-->").acceptable);
  EXPECT_FALSE(Measure(std::string("<a>\xC3\0<b>", 8)).acceptable);
  // After a NUL the parser sees nothing.
  EXPECT_EQ(Measure(std::string("<a/>\0<b><c>", 11)).elements, 1u);
}

// The reproductions: a stack overflow on Windows, and a parse of minutes.
TEST(MeasureXmlShape, HostileManifestsAreRefusedBeforeParsing) {
  std::string wide = "<patch";
  for (int i = 0; i < 80000; ++i) wide += " a" + std::to_string(i) + "=\"\"";
  for (const std::string& text : {Repeat("<patch>", 30000), wide + "/>"}) {
    TiXmlDocument document;
    try {
      ParseXmlDocument(ResourceView{reinterpret_cast<const unsigned char*>(text.data()), text.size()},
                       document, "Invalid main_xml");
      ADD_FAILURE() << "parsed";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Invalid main_xml");
    }
    EXPECT_EQ(document.FirstChild(), nullptr);
  }
}

}  // namespace
}  // namespace vard
