#include "mkpatch/progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace vard::mkpatch {

ProgressBar::ProgressBar(std::string title, uint64_t total)
    : title_(std::move(title)), total_(total), enabled_(isatty(STDOUT_FILENO) != 0) {
  if (enabled_) Draw("");
}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Advance(uint64_t amount, const std::string& label) {
  done_ += amount;
  if (enabled_) Draw(label);
}

void ProgressBar::Finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  std::printf("\r\033[K");
  std::fflush(stdout);
}

void ProgressBar::Draw(const std::string& label) {
  constexpr int kWidth = 30;
  const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done_) / static_cast<double>(total_);
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  std::string shown = label.size() > 40 ? "..." + label.substr(label.size() - 37) : label;
  std::printf("\r\033[K%s [%s] %3d%% %s", title_.c_str(), bar.c_str(), static_cast<int>(fraction * 100),
              shown.c_str());
  std::fflush(stdout);
}

}  // namespace vard::mkpatch
