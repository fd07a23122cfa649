#include "manifest/xml_document.h"

#include <string>

namespace vard {

void ParseXmlDocument(ResourceView view, TiXmlDocument& doc) {
  const std::string text(reinterpret_cast<const char*>(view.bytes), view.length);
  doc.Parse(text.c_str());
}

}  // namespace vard
