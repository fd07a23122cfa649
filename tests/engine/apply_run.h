// The run that engine_apply_child plays and that the interruption and full-disk tests
// check: the game files before and after it. Old and new contents are payloads 1001 and
// 1002 of make_apply_payloads.py (1.5 MB each, so every write takes two 1 MiB chunks).
#pragma once

#include <string>
#include <vector>

namespace vard::test {

struct RunFile {
  std::wstring path;    // below the installation folder
  bool before_present;  // false: absent before the run
  std::string before;
  bool after_present;   // false: absent after the run
  std::string after;
};

inline std::vector<RunFile> RunFiles(const std::string& old_bytes, const std::string& new_bytes) {
  return {  // in the order the run handles them
      {L"data\\present.bin", true, "an older present.bin", true, new_bytes},  // added over it, stored
      {L"data\\file0.bin", true, old_bytes, true, new_bytes},  // diff, compressed
      {L"data\\file1.bin", true, old_bytes, true, new_bytes},  // diff, stored
      {L"data\\file2.bin", true, old_bytes, true, new_bytes},  // whole, compressed
      {L"data\\file3.bin", true, old_bytes, true, new_bytes},  // whole, stored
      {L"local\\french\\added.bin", false, "", true, new_bytes},              // added, compressed
      {L"old\\gone.bin", true, "to be deleted", false, ""},                   // deleted
      // Not in the patch, and named like the staging files of earlier versions.
      {L"data\\new.dat", true, "game data", true, "game data"},
      {L"data\\undiff.dat", true, "game data", true, "game data"},
  };
}

}  // namespace vard::test
