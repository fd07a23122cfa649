// Where the result of one game file is prepared: files beside it, named after it with a
// suffix that no game file may carry. mkpatch refuses game trees that hold such a name
// and the patcher refuses manifests that name one, so clearing a staging file (a leftover
// of an interrupted run) can never remove a game file, and no entry can stage onto
// another entry's file. The names are no valid 8.3 names, so they never match another
// file's short name either. Portable.
#pragma once

#include <string>

namespace vard {

enum class StagingRole {
  Payload,         // "<name>.vard-new": the payload's content (the new file, or the diff)
  Rebuilt,         // "<name>.vard-undiff": the new file rebuilt from a diff
  CompressedCopy,  // "<name>.vard-comp": the compressed payload copied out of the exe
};

// The staging file of the role for target (a full path).
std::wstring StagingPath(const std::wstring& target, StagingRole role);

// True when name (a file or folder name without directory) is reserved for staging: its
// last extension begins with "vard-", in any case ("level.bin.VARD-new"), once the
// trailing dots and spaces that Windows drops are gone.
bool IsStagingName(const std::wstring& name);

}  // namespace vard
