// vardplay: the player automation of the end-to-end tests (see tests/e2e/README.md).
//   vardplay play SCRIPT REPORT          plays the scenario script, writes the JSON report
//   vardplay setres IN OUT ID=FILE...    copies IN to OUT with "DATA" resources set
//                                        (ID=- removes one)
// Exit code 0 when the command did its work, 1 when it could not, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "json.h"
#include "play_script.h"
#include "player.h"
#include "resource_edit.h"
#include "text.h"

namespace {

int Usage() {
  std::fputs("usage: vardplay play SCRIPT REPORT | vardplay setres IN OUT ID=FILE...\n",
             stderr);
  return 2;
}

int PlayCommand(const std::wstring& script_path, const std::wstring& report_path) {
  std::ifstream in(script_path.c_str(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  vardplay::Script script;
  std::string error;
  if (!in || !vardplay::ParseScript(text, script, error)) {
    std::fprintf(stderr, "vardplay: %s\n", in ? error.c_str() : "cannot read the script");
    return 2;
  }
  vardplay::JsonWriter json;
  const bool played = vardplay::Play(script, json);
  std::ofstream out(report_path.c_str(), std::ios::binary);
  out << json.str();
  return played && out ? 0 : 1;
}

int SetResCommand(int argc, wchar_t** argv) {
  std::vector<vardplay::DataResource> resources;
  for (int i = 4; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos) return Usage();
    const long id = std::wcstol(arg.substr(0, eq).c_str(), nullptr, 10);
    if (id <= 0 || id > 0xFFFF) return Usage();
    const std::wstring file = arg.substr(eq + 1);
    resources.push_back({static_cast<WORD>(id), file == L"-" ? std::wstring() : file});
  }
  std::string error;
  if (!vardplay::SetDataResources(argv[2], argv[3], resources, error)) {
    std::fprintf(stderr, "vardplay setres: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"play" && argc == 4) return PlayCommand(argv[2], argv[3]);
  if (command == L"setres" && argc >= 4) return SetResCommand(argc, argv);
  return Usage();
}
