// A cheap look at a manifest's XML before TinyXML parses it. TinyXML recurses once per
// nesting level (a few thousand levels overflow the stack) and checks each new attribute
// against all earlier ones of its element (quadratic time), so a hostile manifest could
// end the process without the fatal path or stall it for minutes. MeasureXmlShape bounds,
// in one pass over the bytes, what TinyXML would build from them; manifests whose bounds
// pass limits far above anything mkpatch writes are refused before parsing.
#pragma once

#include <cstddef>

namespace vard {

// Upper bounds of what TinyXML builds from the text: elements in all, the deepest
// nesting, the most attributes on one element. "acceptable" is false for text whose
// markup this scan cannot follow exactly as TinyXML does (a '<' or '>' inside an
// attribute value, a multi-byte UTF-8 lead byte followed by an ASCII byte, a numeric
// character reference reaching over markup, a quote the declaration leaves open past its
// end); mkpatch never writes such text. The scan stops at the first NUL, as TinyXML does.
struct XmlShape {
  std::size_t elements = 0;
  std::size_t depth = 0;
  std::size_t attributes = 0;
  bool acceptable = true;
};

XmlShape MeasureXmlShape(const unsigned char* bytes, std::size_t length);

// Limits far above what mkpatch writes (a nesting of four, a dozen attributes, one
// element per file) and far below what hurts TinyXML.
inline constexpr std::size_t kMaxXmlDepth = 64;
inline constexpr std::size_t kMaxXmlAttributes = 64;
inline constexpr std::size_t kMaxXmlElements = 1000000;

// True for a text within all three limits whose markup the scan could follow.
bool IsManifestShaped(const XmlShape& shape);

}  // namespace vard
