// Parsing an embedded XML manifest with TinyXML without reading past the resource: the
// bytes are copied into a NUL-terminated buffer first, since the resource is not
// terminated and the parser reads to a terminator.
#pragma once

#include <tinyxml.h>

#include "manifest/resource_view.h"

namespace vard {

// Parses the view's bytes into doc. Parse errors are not reported: callers only ask
// whether the elements and attributes they need are present. Bytes after an embedded NUL
// are not seen.
void ParseXmlDocument(ResourceView view, TiXmlDocument& doc);

}  // namespace vard
