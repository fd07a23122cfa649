#include "mkpatch/report_hook.h"

#include <exception>

#include "mkpatch/common/file_io.h"
#include "mkpatch/preview/preview.h"

namespace vard::mkpatch {
namespace {

const char* Caption(const std::string& name) {
  if (name == "splash") return "Splash, at full opacity";
  if (name == "window-start") return "Progress window at the start";
  if (name == "window-half") return "Half-way";
  if (name == "window-done") return "Done";
  return "";
}

void AddPreviewFrames(const Project& project, const std::filesystem::path& scratch,
                      const std::filesystem::path& stubs, BuildFacts& facts) {
  try {
    for (const std::filesystem::path& file : WritePreview(project, scratch, stubs)) {
      const std::string name = file.stem().string();
      facts.frames.push_back({name, Caption(name), ReadWholeFile(file)});
    }
  } catch (const std::exception& e) {
    facts.frames.clear();
    facts.frames_error = e.what();
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
}

}  // namespace

void WriteReports(const PatchPlan& plan, BuildFacts facts, const ReportTargets& targets) {
  AddPreviewFrames(plan.project, targets.out / ".report-preview", targets.stubs, facts);
  std::vector<std::filesystem::path> pages = {targets.out / "report.html"};
  if (!targets.html.empty()) pages.push_back(targets.html);
  WriteBuildReport(MakeBuildReport(plan, std::move(facts)), pages, targets.json);
}

}  // namespace vard::mkpatch
