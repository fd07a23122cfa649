// Localized texts and message boxes as a player sees them. The text language is chosen once
// per process, so each language case runs in a child process of this executable that
// reports what it looked up and which boxes it saw (read and answered from a second thread).
#include "ui/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "test_support/child_process.h"
#include "test_support/message_boxes.h"

namespace vard {
namespace {

using Report = std::map<std::wstring, std::wstring>;
const wchar_t kLanguageKey[] = L"SOFTWARE\\VardTests\\Texts";  // as test_main_manifest.xml

// Records are separated by U+001E, key and value by U+001F (texts hold line breaks).
void WriteReport(const std::wstring& path, const Report& report) {
  std::wstring data;
  for (const auto& [key, value] : report) data += key + L'\x1f' + value + L'\x1e';
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
}

Report ReadReport(const std::wstring& path) {
  Report report;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return report;
  std::wstring data(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
  DWORD got = 0;
  ReadFile(file, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)), &got, nullptr);
  CloseHandle(file);
  std::size_t start = 0;
  for (std::size_t end; (end = data.find(L'\x1e', start)) != std::wstring::npos; start = end + 1) {
    const std::wstring record = data.substr(start, end - start);
    const std::size_t split = record.find(L'\x1f');
    report[record.substr(0, split)] = record.substr(split + 1);
  }
  return report;
}

// Shows one box through ShowMessage while a second thread reads it and presses answer.
void ShowAndAnswer(Report& report, const std::wstring& name, TextId caption, TextId text,
                   UINT style, int answer) {
  test::SeenBox seen;
  std::thread player([&] {
    seen = test::WaitForBox(GetCurrentProcessId());
    if (seen.window != nullptr) test::PressButton(seen, answer);
  });
  const int result = ShowMessage(caption, text, style);
  player.join();
  report[name + L".caption"] = seen.caption;
  report[name + L".text"] = seen.text;
  for (const auto& [id, label] : seen.buttons) report[name + L"." + std::to_wstring(id)] = label;
  report[name + L".icon"] = seen.icon;
  report[name + L".result"] = std::to_wstring(result);
}

// The child's side: run only when the parent asks for a report.
TEST(TextChild, Report) {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"VARD_TEXT_REPORT", path, MAX_PATH) == 0) {
    GTEST_SKIP() << "runs as a child of the language tests";
  }
  Report report;
  report[L"known"] = ChooseLanguage() ? L"1" : L"0";
  for (TextId id = 199; id <= 226; ++id) report[L"text." + std::to_wstring(id)] = LoadText(id);
  // Each box costs about two seconds under Wine without a window manager: only when asked.
  if (GetEnvironmentVariableW(L"VARD_TEXT_BOXES", nullptr, 0) != 0) {
    ShowAndAnswer(report, L"question", 223, 222, MB_YESNO | MB_ICONEXCLAMATION, IDNO);
    ShowAndAnswer(report, L"running", 203, 205, MB_RETRYCANCEL | MB_ICONERROR, IDRETRY);
    ShowAndAnswer(report, L"error", 203, 204, MB_TOPMOST | MB_ICONERROR, IDOK);
  }
  // The choice is fixed: a changed registry value no longer matters.
  test::SetMachineDword(kLanguageKey, L"Language", 7);
  report[L"known.again"] = ChooseLanguage() ? L"1" : L"0";
  report[L"again.203"] = LoadText(203);
  WriteReport(path, report);
}

struct Expected {
  std::map<TextId, std::wstring> texts;
};

// Texts of the string table, byte for byte as the game's translators wrote them.
const std::map<std::string, Expected>& Tables() {
  static const std::map<std::string, Expected> tables = {
      {"en", {{{203, L"Error!"},
               {204, L"The patch is already being executed."},
               {205, L"KORAX is running. You need to quit it in order to install this patch."},
               {217, L"Success!"},
               {219, L"Ok"},
               {220, L"Cancel"},
               {221, L"Retry"},
               {222, L"WARNING: the installation of the patch is about to begin. This will remove all your saves but not the unlocked missions.\nAre you sure you want to continue ?"},
               {223, L"Warning!"},
               {224, L"Yes"},
               {225, L"No"}}}},
      {"de", {{{203, L"Fehler!"},
               {204, L"Der Patch wird bereits ausgef\u00fchrt."},
               {205, L"KORAX wird ausgef\u00fchrt. Sie m\u00fcssen die Anwendung beenden, um diesen Patch installieren zu k\u00f6nnen."},
               {217, L"Erfolg!"},
               {219, L"OK"},
               {220, L"Abbrechen"},
               {221, L"Wiederholen"},
               {222, L"ACTHUNG: Der Patch wird gleich installiert. Dabei werden alle Schnellspeicherungen entfernt. Die freigeschalteten Missionen bleiben hierbei erhalten.\nSind Sie sicher, dass Sie fortfahren m\u00f6chten?"},
               {223, L"Achtung!"},
               {224, L"Ja"},
               {225, L"Nein"}}}},
      {"fr", {{{203, L"Erreur !"},
               {204, L"Le patch est d\u00e9j\u00e0 en cours d'ex\u00e9cution."},
               {205, L"KORAX est en cours d'ex\u00e9cution. Quittez le jeu avant d'installer ce patch."},
               {217, L"Installation r\u00e9ussie !"},
               {219, L"OK"},
               {220, L"Annuler"},
               {221, L"R\u00e9essayer"},
               {222, L"ATTENTION : vous allez proc\u00e9der \u00e0 l\u2019installation du patch. Toutes vos sauvegardes seront supprim\u00e9es mais vous conserverez les missions d\u00e9bloqu\u00e9es.\n\u00cates-vous s\u00fbr de vouloir continuer ?"},
               {223, L"Attention!"},
               {224, L"Oui"},
               {225, L"Non"}}}},
      {"it", {{{203, L"Errore!"},
               {204, L"La patch \u00e8 gi\u00e0 in esecuzione."},
               {205, L"KORAX \u00e8 in uso. Per installare questa patch devi uscire dall'applicazione."},
               {217, L"Riuscita!"},
               {219, L"OK"},
               {220, L"Annulla"},
               {221, L"Riprova"},
               {222, L"ATTENZIONE: l\u2019installazione della patch sta per iniziare. L\u2019operazione eliminer\u00e0 tutti i salvataggi ma non le missioni sbloccate.\nVuoi continuare?"},
               {223, L"Attenzione!"},
               {224, L"S\u00ec"},
               {225, L"No"}}}},
      {"es", {{{203, L"\u00a1Error!"},
               {204, L"Ya se est\u00e1 ejecutando el parche."},
               {205, L"KORAX se est\u00e1 ejecutando. Tienes que salir del juego para instalar este parche."},
               {217, L"\u00a1Completado!"},
               {219, L"Aceptar"},
               {220, L"Cancelar"},
               {221, L"Reintentar"},
               {222, L"AVISO: va a comenzar la instalaci\u00f3n del parche. Se eliminar\u00e1n todos los datos guardados excepto las misiones desbloqueadas.\n\u00bfSeguro que quieres continuar?"},
               {223, L"\u00a1Aviso!"},
               {224, L"S\u00ed"},
               {225, L"No"}}}},
  };
  return tables;
}

// Runs a child with the registry's language value (or none). The child's default language
// is this process's: Wine takes it from the Unix locale (LC_ALL) the test was started with.
Report RunChild(const DWORD* language_value, bool boxes) {
  if (language_value != nullptr) {
    test::SetMachineDword(kLanguageKey, L"Language", *language_value);
  } else {
    test::DeleteMachineValue(kLanguageKey, L"Language");
  }
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring report_path =
      std::wstring(temp) + L"vard-text-report-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
  DeleteFileW(report_path.c_str());
  SetEnvironmentVariableW(L"VARD_TEXT_REPORT", report_path.c_str());
  SetEnvironmentVariableW(L"VARD_TEXT_BOXES", boxes ? L"1" : nullptr);
  DWORD pid = 0;
  HANDLE child = test::StartChild(test::OwnExecutable(), L"--gtest_filter=TextChild.Report", pid);
  SetEnvironmentVariableW(L"VARD_TEXT_REPORT", nullptr);
  SetEnvironmentVariableW(L"VARD_TEXT_BOXES", nullptr);
  EXPECT_NE(child, nullptr);
  if (child == nullptr) return Report();
  EXPECT_EQ(test::WaitForExit(child), 0u);
  CloseHandle(child);
  Report report = ReadReport(report_path);
  DeleteFileW(report_path.c_str());
  return report;
}

void ExpectLanguage(const Report& report, const std::string& language, bool known,
                    bool boxes = false) {
  ASSERT_FALSE(report.empty()) << "the child wrote no report";
  const auto& texts = Tables().at(language).texts;
  auto get = [&](const std::wstring& key) {
    const auto it = report.find(key);
    return it == report.end() ? std::wstring(L"<absent>") : it->second;
  };
  EXPECT_EQ(get(L"known"), known ? L"1" : L"0");
  for (const auto& [id, text] : texts) {
    EXPECT_EQ(get(L"text." + std::to_wstring(id)), text) << language << " id " << id;
  }
  for (TextId id = 200; id <= 225; ++id) {
    EXPECT_FALSE(get(L"text." + std::to_wstring(id)).empty()) << language << " id " << id;
  }
  EXPECT_EQ(get(L"text.199"), L"");  // undefined entry of block 13
  EXPECT_EQ(get(L"text.226"), L"");  // beyond the table

  EXPECT_EQ(get(L"known.again"), known ? L"1" : L"0");
  EXPECT_EQ(get(L"again.203"), texts.at(203));
  if (!boxes) return;

  // Caption, text and every button label come from the table of the same language.
  EXPECT_EQ(get(L"question.caption"), texts.at(223));
  EXPECT_EQ(get(L"question.text"), texts.at(222));
  EXPECT_EQ(get(L"question.6"), texts.at(224));
  EXPECT_EQ(get(L"question.7"), texts.at(225));
  EXPECT_EQ(get(L"question.result"), std::to_wstring(IDNO));
  EXPECT_EQ(get(L"question.icon"), L"warning");
  EXPECT_EQ(get(L"running.4"), texts.at(221));
  EXPECT_EQ(get(L"running.2"), texts.at(220));
  EXPECT_EQ(get(L"running.text"), texts.at(205));
  EXPECT_EQ(get(L"running.result"), std::to_wstring(IDRETRY));
  EXPECT_EQ(get(L"error.caption"), texts.at(203));
  EXPECT_EQ(get(L"error.text"), texts.at(204));
  EXPECT_EQ(get(L"error.1"), texts.at(219));
  EXPECT_EQ(get(L"error.icon"), L"error");
  EXPECT_EQ(get(L"error.result"), std::to_wstring(IDOK));
}

// The table a player's default language gets when the installation language is unknown.
std::string DefaultTable() {
  switch (GetUserDefaultLangID()) {
    case 1031: return "de";
    case 1036: return "fr";
    case 1040: return "it";
    case 3082: return "es";
    default: return "en";  // 1033, 2055 and every other language without a table
  }
}

TEST(LanguageChoice, EachInstallationLanguageSelectsItsTable) {
  const struct { DWORD value; const char* language; } cases[] = {
      {9, "en"}, {7, "de"}, {1036, "fr"}, {16, "it"}, {10, "es"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ExpectLanguage(RunChild(&c.value, true), c.language, true, true);
  }
}

// Run under several player locales (see CMakeLists.txt): German gives the German table,
// English (United States) the English one.
TEST(LanguageChoice, UnknownValuesFollowThePlayersDefaultLanguage) {
  // The registration names the default it arranged, so a locale Wine ignored cannot pass
  // for the English fallback.
  wchar_t expected[16] = {};
  if (GetEnvironmentVariableW(L"VARD_EXPECT_PLAYER_LANGID", expected, 16) != 0) {
    ASSERT_EQ(GetUserDefaultLangID(), _wtoi(expected));
  }
  const DWORD french_primary = 12;  // only the full LANGID 1036 means French
  ExpectLanguage(RunChild(&french_primary, false), DefaultTable(), false);
  ExpectLanguage(RunChild(nullptr, false), DefaultTable(), false);
  const DWORD english_langid = 0x0409;  // a full LANGID is not the primary number 9
  ExpectLanguage(RunChild(&english_langid, false), DefaultTable(), false);
}

}  // namespace
}  // namespace vard
