// Reading of one "file" element of a pack manifest into a FileEntry: which attributes each
// kind needs, in which order they are read, and how the subpath becomes rel_dir and
// file_name below the pack root.
#pragma once

#include <memory>
#include <string>

#include "manifest/file_entry.h"

class TiXmlElement;

namespace vard {

// The text of the named attribute (present with empty text counts as present). Raises
// std::runtime_error("FilePatch") when the element has no such attribute.
std::string RequireAttribute(const TiXmlElement& element, const char* name);

// A manifest integer as atoi reads it (no digits gives 0); values beyond 32 bits keep their
// low 32 bits instead of being undefined.
std::int32_t ReadManifestInt(const char* text);

// Builds the entry of one "file" element. install_root: the cleaned installation folder
// with one trailing backslash; pack_root: the pack's folder below it (cleaned again here).
// Attributes are read in a fixed order, so an element with several faults fails on the
// first. Raises std::runtime_error("FilePatch") for a missing required attribute, an empty
// install root, a subpath without a file name, a subpath that is not exact UTF-8 (it would
// decode to another name), a file name reserved for staging files, and a subpath or pack
// root holding a "." or ".." component (such a path would leave its folder or name the
// folder itself).
std::unique_ptr<FileEntry> ParseFileEntry(const TiXmlElement& element, EntryKind kind,
                                          const std::wstring& install_root,
                                          const std::wstring& pack_root);

}  // namespace vard
