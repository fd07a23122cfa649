// Parsing an embedded XML manifest with TinyXML without reading past the resource: the
// bytes are copied into a NUL-terminated buffer first, since the resource is not
// terminated and the parser reads to a terminator.
#pragma once

#include <tinyxml.h>

#include "manifest/resource_view.h"

namespace vard {

// Parses the view's bytes into doc. Parse errors are not reported: callers only ask
// whether the elements and attributes they need are present. Bytes after an embedded NUL
// are not seen. Text whose shape passes the manifest limits (xml_shape.h) is not parsed
// at all: std::runtime_error(failure) is raised, the caller's message for a bad manifest.
void ParseXmlDocument(ResourceView view, TiXmlDocument& doc, const char* failure);

}  // namespace vard
