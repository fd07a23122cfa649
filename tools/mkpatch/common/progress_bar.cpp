#include "mkpatch/common/progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace vard::mkpatch {

ProgressBar::ProgressBar(std::string title, uint64_t total_files, uint64_t total_bytes)
    : title_(std::move(title)),
      total_files_(total_files),
      total_bytes_(total_bytes),
      start_(std::chrono::steady_clock::now()),
      enabled_(isatty(STDOUT_FILENO) != 0) {
  if (enabled_) Draw("");
}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Advance(uint64_t files, uint64_t bytes, const std::string& label) {
  const std::lock_guard<std::mutex> lock(mutex_);
  files_ += files;
  bytes_ += bytes;
  if (!enabled_ || finished_) return;
  // Redrawn at most ten times a second: thousands of small files would flood the terminal.
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ < std::chrono::milliseconds(100) && files_ < total_files_) return;
  last_draw_ = now;
  Draw(label);
}

void ProgressBar::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!enabled_ || finished_) return;
  finished_ = true;
  std::printf("\r\033[K");
  std::fflush(stdout);
}

std::string ProgressBar::Bytes(uint64_t bytes) {
  char text[32];
  const double b = static_cast<double>(bytes);
  if (b >= 1e9) std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
  else if (b >= 1e6) std::snprintf(text, sizeof text, "%.1f MB", b / 1e6);
  else std::snprintf(text, sizeof text, "%.1f kB", b / 1e3);
  return text;
}

std::string ProgressBar::Duration(double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%lldh%02lldm", s / 3600, s / 60 % 60);
  else if (s >= 60) std::snprintf(text, sizeof text, "%lldm%02llds", s / 60, s % 60);
  else std::snprintf(text, sizeof text, "%llds", s);
  return text;
}

void ProgressBar::Draw(const std::string& label) {
  constexpr int kWidth = 24;
  const double fraction =
      total_bytes_ == 0 ? (total_files_ == 0 ? 1.0 : static_cast<double>(files_) / static_cast<double>(total_files_))
                        : static_cast<double>(bytes_) / static_cast<double>(total_bytes_);
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // The estimate needs a few seconds and some bytes behind it to mean anything.
  std::string left = "--";
  if (fraction > 0.001 && elapsed > 2.0) left = Duration(elapsed * (1.0 - fraction) / fraction);
  const std::string shown = label.size() > 30 ? "..." + label.substr(label.size() - 27) : label;
  std::printf("\r\033[K%s [%s] %3d%% %llu/%llu files %s/%s, %s left %s", title_.c_str(), bar.c_str(),
              static_cast<int>(fraction * 100), static_cast<unsigned long long>(files_),
              static_cast<unsigned long long>(total_files_), Bytes(bytes_).c_str(),
              Bytes(total_bytes_).c_str(), left.c_str(), shown.c_str());
  std::fflush(stdout);
}

}  // namespace vard::mkpatch
