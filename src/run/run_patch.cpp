#include "run/run_patch.h"

#include <mmsystem.h>

#include <cstdint>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "cleanup/remove_saves.h"
#include "engine/apply.h"
#include "engine/folders.h"
#include "engine/overlay.h"
#include "engine/verify.h"
#include "manifest/file_entry.h"
#include "manifest/pack_selection.h"
#include "manifest/patch_config.h"
#include "model/progress_tree.h"
#include "model/ui_state.h"
#include "os/files.h"
#include "os/held_folders.h"
#include "os/registry.h"
#include "run/fatal.h"
#include "run/guards.h"
#include "run/version.h"
#include "ui/windows_ui.h"

namespace vard {
namespace {

constexpr UINT kErrorStyle = MB_TOPMOST | MB_ICONERROR;          // 0x40010
constexpr UINT kNoticeStyle = MB_TOPMOST | MB_ICONINFORMATION;   // 0x40040
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONEXCLAMATION;   // 0x34, not topmost

constexpr TextId kCaptionError = 203;
constexpr TextId kCaptionSuccess = 217;

// Shows a box and closes the progress window, as every outcome after StartUi does.
void Conclude(TextId caption, TextId text, UINT style) {
  ShowMessage(caption, text, style);
  StopSounds();
  StopUi();
}

// Publishes the run's root node for the total bar and withdraws it when the run ends, so
// that nothing keeps pointing at the finished run.
class RootRegistration {
 public:
  explicit RootRegistration(ProgressNode& root) { ProgressRoot() = &root; }
  ~RootRegistration() { ProgressRoot() = nullptr; }
  RootRegistration(const RootRegistration&) = delete;
  RootRegistration& operator=(const RootRegistration&) = delete;
};

}  // namespace

// winmm.dll is not among the libraries that the system always takes from its own folder,
// so the patcher does not import it (a copy planted beside the executable would be loaded
// first). A sound can only be playing when something in the process has loaded it.
void StopSounds() {
  const HMODULE winmm = GetModuleHandleW(L"winmm.dll");
  if (winmm == nullptr) return;
  using PlaySoundFunction = BOOL(WINAPI*)(LPCSTR, HMODULE, DWORD);
  const auto play = reinterpret_cast<PlaySoundFunction>(
      reinterpret_cast<void*>(GetProcAddress(winmm, "PlaySoundA")));
  if (play != nullptr) play(nullptr, GetModuleHandleA(nullptr), SND_PURGE);
}

void ReportError(TextId text) { Conclude(kCaptionError, text, kErrorStyle); }

void ReportNotice(TextId text) { Conclude(kCaptionError, text, kNoticeStyle); }

void RunPatch() {
  // The splash comes first, before any test.
  ShowSplash();

  // A second patcher is turned away before any window but the splash exists.
  if (!ClaimInstance()) {
    ShowMessage(kCaptionError, 204, kErrorStyle);
    return;
  }

  // The window title. The first lookup chooses the language and builds the configuration, so a
  // broken main manifest takes the fatal path here, before the progress window exists.
  std::wstring title = LoadText(201);
  const PatchConfig& config = GetPatchConfig();
  title += L" ";
  title += LoadText(202);
  title += Utf8ToWide(config.from);
  title += L" - ";
  title += LoadText(202);
  title += Utf8ToWide(config.to);
  SetTitleText(title);

  // The first status line, then the progress window.
  SetStatusText(LoadText(200));
  StartUi();

  // The player confirms that the saves will be removed.
  if (ShowMessage(223, 222, kQuestionStyle) == IDNO) {
    StopSounds();
    StopUi();
    return;
  }

  // The game must not run.
  if (!WaitForGameExit()) {
    StopUi();
    return;
  }

  // The installation folder: separators unified, a leading one kept, no trailing one.
  const std::wstring install_path = NormalizePath(ReadWideText(config.reg_path), false, true);
  if (install_path.empty()) return ReportError(207);

  // The installation language.
  if (!ChooseLanguage()) return ReportError(209);

  // The installation folder must exist.
  if (!PathExists(LongPathForm(FullPathName(install_path)))) return ReportError(208);

  // The installed version must be readable.
  const std::string installed_text = ReadText(config.reg_version);
  const std::int32_t installed = ParseVersion(installed_text);
  if (installed_text.empty() || installed == 0) return ReportError(210);

  // Already patched, newer, or none of the versions the patch starts from: nothing to do.
  // Otherwise the set of packs of the installed starting version applies.
  const std::int32_t to = ParseVersion(config.to);
  if (installed == to) return Conclude(kCaptionSuccess, 211, kNoticeStyle);
  if (installed > to) return ReportNotice(212);
  const int set = FindStartingSet(installed, config.from, config.other_from);
  if (set < 0) return ReportNotice(213);

  // The files of every pack of that set that applies to the installation language.
  FileEntryList entries;
  FolderEntryList folders;
  const auto required_space = static_cast<std::uint64_t>(
      CollectFileEntries(entries, config, install_path, &folders, static_cast<std::size_t>(set)));

  // The root of the progress tree drives the total bar.
  ProgressNode root(0, nullptr);
  RootRegistration registration(root);

  // Nothing is written before every file has been found in its expected state.
  for (auto& entry : entries) {
    if (!VerifyEntry(*entry, root)) return ReportError(210);
  }
  if (!VerifyFolders(folders)) return ReportError(210);
  // Payloads in the overlay are read whole and checked before anything is written, so that
  // a damaged or truncated patcher changes no game file at all.
  for (auto& entry : entries) {
    if (!entry->in_overlay) continue;
    const OverlayRead read = CheckOverlayPayload(*entry);
    if (read == OverlayRead::Damaged) return ReportError(210);
    if (read == OverlayRead::Failed) return ReportError(215);
  }

  // Verification is over. The root carries no label, so this report shows nothing; it is
  // kept as the one progress report between verification and the space test.
  ReportProgress(root);

  // Free space; a query the system refuses skips the test.
  ULARGE_INTEGER available{};
  const std::wstring space_folder = LongPathForm(FullPathName(install_path + L"\\"));
  if (GetDiskFreeSpaceExW(space_folder.c_str(), &available, nullptr, nullptr) &&
      required_space > available.QuadPart) {
    return ReportError(214);
  }

  // The status line announces the application of the files.
  SetStatusText(LoadText(218));
  SetDetailText(L"");

  // Entries applied before a failure stay applied; nothing is rolled back.
  for (auto& entry : entries) {
    const ApplyResult result = ApplyEntry(*entry);
    if (result == ApplyResult::Corrupted) return ReportError(210);
    if (result == ApplyResult::DiskError) return ReportError(215);
  }
  // Then the folders: emptied ones go, empty new ones are made.
  if (!ApplyFolders(folders)) return ReportError(215);

  // The new version, only where a version text already stands.
  WriteText(config.reg_version, config.to);
  WriteText(config.reg_version2, config.to);

  // The saves of the old version are removed.
  RemoveSaves(install_path, L"KORAX");

  // The final status line, then the success box closes the run.
  SetStatusText(LoadText(217));
  SetDetailText(L"");
  Conclude(kCaptionSuccess, 216, kNoticeStyle);
}

void RunGuarded() {
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = InstallFatalHandlers();
  try {
    RunPatch();
  } catch (...) {
    TakeFatalPath();
  }
  SetUnhandledExceptionFilter(previous);
}

}  // namespace vard
