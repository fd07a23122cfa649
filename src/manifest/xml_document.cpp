#include "manifest/xml_document.h"

#include <stdexcept>
#include <string>

#include "manifest/xml_shape.h"

namespace vard {

namespace {

// TinyXML steps over a whole UTF-8 sequence as its lead byte announces (up to four bytes)
// even when the text ends inside it, and then reads the byte it lands on. Enough
// terminators after the text make that byte a terminator too, inside the buffer.
constexpr std::size_t kTerminators = 4;

}  // namespace

void ParseXmlDocument(ResourceView view, TiXmlDocument& doc, const char* failure) {
  if (!IsManifestShaped(MeasureXmlShape(view.bytes, view.length))) {
    throw std::runtime_error(failure);
  }
  std::string text(reinterpret_cast<const char*>(view.bytes), view.length);
  text.append(kTerminators - 1, '\0');  // c_str() adds the last one
  doc.Parse(text.c_str());
}

}  // namespace vard
