// The run that engine_apply_child plays and that the interruption and full-disk tests
// check: the game files before and after it. Old and new contents are payloads 1001 and
// 1002 of make_apply_payloads.py (1.5 MB each, so every write takes two 1 MiB chunks).
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

namespace vard::test {

// What a payload decodes to, as a manifest's diff_size states it: its own size when
// stored, the inflated size of a zlib stream when compressed.
inline std::string DecodedSize(const std::string& payload, bool comp) {
  if (!comp) return std::to_string(payload.size());
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return "0";
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  unsigned char out[65536];
  unsigned long long total = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = out;
    z.avail_out = sizeof out;
    result = inflate(&z, Z_NO_FLUSH);
    total += sizeof out - z.avail_out;
  }
  inflateEnd(&z);
  return std::to_string(total);
}

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
