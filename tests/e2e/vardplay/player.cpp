#include "player.h"

#include <map>
#include <set>
#include <vector>

#include "message_box.h"
#include "os/win_handle.h"
#include "registry.h"
#include "screen.h"
#include "text.h"

namespace vardplay {
namespace {

struct SeenWindow {
  std::string cls;
  std::string title;
  ULONGLONG first_ms = 0;
  bool visible = false;
};

// Milliseconds on the performance counter. Wine's GetTickCount64 reads a tick count that
// the wineserver refreshes only now and then (every 16 ms at best, later under load), so
// two readings of it can be short of the real interval by more than a tick.
ULONGLONG NowMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<ULONGLONG>(now.QuadPart / frequency * 1000 +
                                now.QuadPart % frequency * 1000 / frequency);
}

struct Watch {
  DWORD pid = 0;
  std::vector<HWND> order;
  std::map<HWND, SeenWindow> seen;
  // The process of every top-level window met so far: a window never changes process,
  // and under Wine each question about another process's window is a round trip to the
  // wineserver, asked 50 times a second for every window of the session.
  std::map<HWND, DWORD> owners;
  HWND pending_box = nullptr;
  std::set<HWND> handled;
  ULONGLONG start = 0;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto& watch = *reinterpret_cast<Watch*>(param);
  auto [owner, unknown] = watch.owners.try_emplace(window, 0);
  if (unknown) GetWindowThreadProcessId(window, &owner->second);
  if (owner->second != watch.pid) return TRUE;
  auto [it, fresh] = watch.seen.try_emplace(window);
  SeenWindow& w = it->second;
  if (fresh) {
    watch.order.push_back(window);
    w.cls = WindowClass(window);
    w.first_ms = NowMs() - watch.start;
  }
  // The first title a window shows (the report's record of it): read until it has one.
  if (w.title.empty()) w.title = WindowText(window);
  const bool visible = IsWindowVisible(window);
  w.visible = w.visible || visible;
  if (visible && w.cls == "#32770" && !watch.pending_box && !watch.handled.count(window))
    watch.pending_box = window;
  return TRUE;
}

// shown_ms: the box was up by then. open_ms: it was still up then (the program's call
// showing it had not returned yet). closed_ms: it was gone by then.
void ReportBox(const BoxView& box, int index, ULONGLONG shown_ms, ULONGLONG open_ms,
               ULONGLONG closed_ms, int pressed, bool scripted, JsonWriter& json) {
  json.BeginObject();
  json.Int("index", index);
  json.Int("shown_ms", static_cast<std::int64_t>(shown_ms));
  json.Int("open_ms", static_cast<std::int64_t>(open_ms));
  json.Int("closed_ms", static_cast<std::int64_t>(closed_ms));
  json.String("caption", box.caption);
  json.String("text", box.text);
  json.BeginArray("buttons");
  for (const auto& [id, label] : box.buttons) {
    json.BeginObject();
    json.Int("id", id);
    json.String("label", label);
    json.EndObject();
  }
  json.EndArray();
  json.String("icon", box.icon);
  json.Int("icon_difference_x100", static_cast<std::int64_t>(box.icon_difference * 100));
  json.Bool("topmost", box.topmost);
  json.String("owner_class", box.owner_class);
  json.Int("pressed", pressed);
  json.Bool("scripted", scripted);
  json.EndObject();
}

}  // namespace

bool Play(const Script& script, JsonWriter& json) {
  json.BeginObject();
  std::vector<std::string> errors;
  for (const RegistryWrite& write : script.registry) {
    std::string error;
    if (!ApplyRegistryWrite(write, error)) errors.push_back(error);
  }

  std::vector<vard::KernelHandle> mutexes;
  for (const HeldMutex& m : script.mutexes) {
    mutexes.emplace_back(CreateMutexW(nullptr, FALSE, m.name.c_str()));
    if (!mutexes.back()) errors.push_back("cannot create mutex " + Narrow(m.name));
  }

  std::vector<vard::FileHandle> held_files;
  for (const HeldFile& h : script.held_files) {
    held_files.emplace_back(CreateFileW(h.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held_files.back()) errors.push_back("cannot open " + Narrow(h.path));
  }

  std::wstring command = L"\"" + script.program + L"\"";
  std::wstring directory = script.directory;
  if (directory.empty()) {
    directory = script.program.substr(0, script.program.find_last_of(L"\\/") + 1);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const bool started =
      errors.empty() &&
      CreateProcessW(script.program.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, directory.empty() ? nullptr : directory.c_str(), &startup,
                     &info);
  if (!started && errors.empty())
    errors.push_back("cannot start " + Narrow(script.program) + ": error " +
                     std::to_string(GetLastError()));
  vard::KernelHandle process(started ? info.hProcess : nullptr);
  vard::KernelHandle thread(started ? info.hThread : nullptr);

  Watch watch;
  watch.pid = started ? info.dwProcessId : 0;
  watch.start = NowMs();
  bool timed_out = false;
  std::vector<bool> shot_taken(script.screenshots.size(), false);
  json.BeginArray("boxes");
  int box_count = 0;
  // Watching for a path to go asks for a short poll: the kill should land within a few
  // milliseconds of its removal.
  const bool watch_path = !script.kill_when_gone.empty();
  while (started) {
    const bool exited =
        WaitForSingleObject(process.get(), watch_path ? 1 : 20) == WAIT_OBJECT_0;
    const ULONGLONG now = NowMs() - watch.start;
    if (exited) break;
    if (watch_path && GetFileAttributesW(script.kill_when_gone.c_str()) == INVALID_FILE_ATTRIBUTES) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
      break;
    }
    if (now > script.timeout_ms) {
      timed_out = true;
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
      break;
    }
    for (size_t i = 0; i < script.screenshots.size(); ++i) {
      const Screenshot& s = script.screenshots[i];
      if (s.box == 0 && !shot_taken[i] && now >= s.at_ms) {
        shot_taken[i] = true;
        RECT all{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (!WriteBmp(CaptureScreen(all), s.path))
          errors.push_back("cannot write " + Narrow(s.path));
      }
    }
    watch.pending_box = nullptr;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&watch));
    if (!watch.pending_box) continue;

    HWND box = watch.pending_box;
    watch.handled.insert(box);
    ++box_count;
    const ULONGLONG shown = NowMs() - watch.start;
    Sleep(script.answer_delay_ms);  // let the box settle and paint
    const BoxView view = ReadBox(box);
    if (box_count == script.kill_at_box) {  // as a player ending the task would
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), 5000);
      ReportBox(view, box_count, shown, shown, NowMs() - watch.start, 0, false, json);
      break;
    }
    for (size_t i = 0; i < script.screenshots.size(); ++i) {
      const Screenshot& s = script.screenshots[i];
      if (s.box == box_count) {
        shot_taken[i] = true;
        RECT all{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (!WriteBmp(CaptureScreen(all), s.path))
          errors.push_back("cannot write " + Narrow(s.path));
      }
    }
    for (size_t i = 0; i < script.mutexes.size(); ++i)
      if (script.mutexes[i].release_at_box == box_count) mutexes[i].reset();
    for (size_t i = 0; i < script.held_files.size(); ++i)
      if (script.held_files[i].release_at_box == box_count) held_files[i].reset();
    const auto answer = script.answers.find(box_count);
    const bool scripted = answer != script.answers.end();
    const int press = scripted                    ? answer->second
                      : script.default_answer != 0 ? script.default_answer
                                                   : SafestButton(view);
    // The box stays up until it is answered. The time is read before each look that still
    // finds it up: a wait the program starts once the box has returned starts after it.
    ULONGLONG open = NowMs() - watch.start;
    PressButton(box, press);
    for (int i = 0; i < 250; ++i) {
      const ULONGLONG before = NowMs() - watch.start;
      if (!IsWindow(box) || !IsWindowVisible(box)) break;
      open = before;
      Sleep(20);
    }
    ReportBox(view, box_count, shown, open, NowMs() - watch.start, press, scripted, json);
  }
  json.EndArray();

  DWORD code = 0;
  if (started) GetExitCodeProcess(process.get(), &code);
  json.Bool("started", started);
  json.Bool("timed_out", timed_out);
  json.Int("exit_code", static_cast<std::int64_t>(code));
  char hex[16];
  wsprintfA(hex, "0x%08X", static_cast<unsigned>(code));
  json.String("exit_code_hex", hex);
  json.Int("run_ms", static_cast<std::int64_t>(NowMs() - watch.start));

  json.BeginArray("windows");
  for (HWND w : watch.order) {
    const SeenWindow& seen = watch.seen[w];
    json.BeginObject();
    json.String("class", seen.cls);
    json.String("title", seen.title);
    json.Int("first_ms", static_cast<std::int64_t>(seen.first_ms));
    json.Bool("visible", seen.visible);
    json.EndObject();
  }
  json.EndArray();

  json.BeginArray("registry");
  for (const auto& [key, value] : script.read_back) ReportRegistryValue(key, value, json);
  json.EndArray();

  json.BeginArray("errors");
  for (const std::string& e : errors) json.String(nullptr, e);
  json.EndArray();
  json.EndObject();
  return started && errors.empty();
}

}  // namespace vardplay
