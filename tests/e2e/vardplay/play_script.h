// The scenario script that the runner hands to the tool: one command per line, fields
// separated by tabs, UTF-8; empty lines and lines starting with '#' are ignored. The
// commands are listed in tests/e2e/README.md.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace vardplay {

struct RegistryWrite {
  bool remove_key = false;     // reg_delete_key: the whole key goes
  bool remove_value = false;   // reg_delete: the value goes (absent afterwards)
  std::wstring key;            // below HKEY_LOCAL_MACHINE
  std::wstring value;
  DWORD type = REG_SZ;
  std::string data;            // raw bytes, exactly as they are stored
};

struct HeldMutex {
  std::wstring name;
  int release_at_box = 0;      // 0: held until the tool ends; N: closed when box N shows
};

// A game file the "game" keeps open for reading while the program runs: others may read
// it, but nobody may write, delete or replace it until it is closed.
struct HeldFile {
  std::wstring path;
  int release_at_box = 0;      // 0: held until the tool ends; N: closed when box N shows
};

struct Screenshot {
  int box = 0;                 // taken when this box is read, or
  DWORD at_ms = 0;             // at this time after the start (when box is 0)
  std::wstring path;           // a 24-bit BMP of the whole screen
};

struct Script {
  std::vector<RegistryWrite> registry;
  std::vector<HeldMutex> mutexes;
  std::vector<HeldFile> held_files;
  std::wstring program;        // what to start (no arguments)
  std::wstring directory;      // its working folder; empty: the program's folder
  std::map<int, int> answers;  // box number (from 1) -> button id to press
  int default_answer = 0;      // for boxes without an answer; 0: the box's safest button
  DWORD answer_delay_ms = 300; // a box is read and answered this long after it shows
  DWORD timeout_ms = 180000;    // the program is killed after this long
  int kill_at_box = 0;         // N: the program is killed when box N shows (exit code 0xDEAD)
  std::wstring kill_when_gone; // the program is killed as soon as this path no longer exists
  std::vector<Screenshot> screenshots;
  std::vector<std::pair<std::wstring, std::wstring>> read_back;  // key, value
};

// Parses the script; on a malformed line returns false and describes it in `error`.
bool ParseScript(const std::string& text, Script& script, std::string& error);

}  // namespace vardplay
