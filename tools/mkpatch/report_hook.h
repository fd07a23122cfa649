// The build report's hook into `mkpatch build`: joins the plan and the build's figures with
// what only the driver has (the preview frames, whether the patchers were built and signed)
// and writes the report to OUT/report.html and to wherever --report and --json ask.
#pragma once

#include <filesystem>
#include <string>

#include "mkpatch/output/build_report.h"

namespace vard::mkpatch {

struct ReportTargets {
  std::filesystem::path out;   // the build's output folder: report.html always goes there
  std::filesystem::path html;  // --report, or empty
  std::filesystem::path json;  // --json, or empty
  std::filesystem::path stubs; // --stubs, or empty: the preview's own images from the installed stubs
};

// Draws the preview frames in a scratch folder of `out` (removed again) and writes the
// report. A preview that cannot be drawn is named in the report instead of failing it.
// Throws std::runtime_error when a report file cannot be written.
void WriteReports(const PatchPlan& plan, BuildFacts facts, const ReportTargets& targets);

}  // namespace vard::mkpatch
