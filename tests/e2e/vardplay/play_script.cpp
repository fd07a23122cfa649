#include "play_script.h"

#include <cstdlib>
#include <sstream>

#include "text.h"

namespace vardplay {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos
                                                                  : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool ParseHex(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    const long b = std::strtol(pair.c_str(), &end, 16);
    if (*end) return false;
    bytes += static_cast<char>(b);
  }
  return true;
}

bool ParseType(const std::string& name, DWORD& type) {
  if (name == "sz") type = REG_SZ;
  else if (name == "expand_sz") type = REG_EXPAND_SZ;
  else if (name == "dword") type = REG_DWORD;
  else if (name == "binary") type = REG_BINARY;
  else if (name == "multi_sz") type = REG_MULTI_SZ;
  else {
    char* end = nullptr;
    type = static_cast<DWORD>(std::strtoul(name.c_str(), &end, 0));
    return !name.empty() && !*end;
  }
  return true;
}

int ToInt(const std::string& text, bool& ok) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 0);
  ok = ok && !text.empty() && !*end;
  return static_cast<int>(v);
}

}  // namespace

bool ParseScript(const std::string& text, Script& script, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = SplitTabs(line);
    const std::string& cmd = f[0];
    bool ok = true;
    auto need = [&](size_t n) { ok = ok && f.size() == n; return ok; };
    if (cmd == "reg_set" && need(5)) {
      RegistryWrite w;
      ok = ParseType(f[1], w.type) && ParseHex(f[4], w.data);
      w.key = Widen(f[2]);
      w.value = Widen(f[3]);
      script.registry.push_back(w);
    } else if (cmd == "reg_delete" && need(3)) {
      RegistryWrite w;
      w.remove_value = true;
      w.key = Widen(f[1]);
      w.value = Widen(f[2]);
      script.registry.push_back(w);
    } else if (cmd == "reg_delete_key" && need(2)) {
      RegistryWrite w;
      w.remove_key = true;
      w.key = Widen(f[1]);
      script.registry.push_back(w);
    } else if (cmd == "mutex" && need(3)) {
      script.mutexes.push_back({Widen(f[1]), ToInt(f[2], ok)});
    } else if (cmd == "hold_file" && need(3)) {
      script.held_files.push_back({Widen(f[1]), ToInt(f[2], ok)});
    } else if (cmd == "run" && need(2)) {
      script.program = Widen(f[1]);
    } else if (cmd == "cwd" && need(2)) {
      script.directory = Widen(f[1]);
    } else if (cmd == "answer" && need(3)) {
      const int box = ToInt(f[1], ok);
      script.answers[box] = ToInt(f[2], ok);
    } else if (cmd == "default_answer" && need(2)) {
      script.default_answer = ToInt(f[1], ok);
    } else if (cmd == "answer_delay_ms" && need(2)) {
      script.answer_delay_ms = static_cast<DWORD>(ToInt(f[1], ok));
    } else if (cmd == "kill_at_box" && need(2)) {
      script.kill_at_box = ToInt(f[1], ok);
    } else if (cmd == "kill_when_gone" && need(2)) {
      script.kill_when_gone = Widen(f[1]);
    } else if (cmd == "timeout_ms" && need(2)) {
      script.timeout_ms = static_cast<DWORD>(ToInt(f[1], ok));
    } else if (cmd == "shot_box" && need(3)) {
      Screenshot s;
      s.box = ToInt(f[1], ok);
      s.path = Widen(f[2]);
      script.screenshots.push_back(s);
    } else if (cmd == "shot_at" && need(3)) {
      Screenshot s;
      s.at_ms = static_cast<DWORD>(ToInt(f[1], ok));
      s.path = Widen(f[2]);
      script.screenshots.push_back(s);
    } else if (cmd == "read_reg" && need(3)) {
      script.read_back.emplace_back(Widen(f[1]), Widen(f[2]));
    } else {
      ok = false;
    }
    if (!ok) {
      error = "line " + std::to_string(number) + ": cannot read '" + line + "'";
      return false;
    }
  }
  if (script.program.empty()) {
    error = "no 'run' line";
    return false;
  }
  return true;
}

}  // namespace vardplay
