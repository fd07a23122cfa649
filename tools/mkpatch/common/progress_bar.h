// A one-line progress bar on standard output, drawn only when it is a terminal, so that
// logs and pipes get the summary alone. It counts files and bytes and estimates the time
// left from the bytes done so far. Safe to advance from several threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace vard::mkpatch {

class ProgressBar {
 public:
  ProgressBar(std::string title, uint64_t total_files, uint64_t total_bytes);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Advance(uint64_t files, uint64_t bytes, const std::string& label);
  void Finish();

  // "1.2 GB" / "340.0 MB" / "12.0 kB"; "2h05m", "3m12s", "45s".
  static std::string Bytes(uint64_t bytes);
  static std::string Duration(double seconds);

 private:
  void Draw(const std::string& label);
  std::mutex mutex_;
  std::string title_;
  uint64_t total_files_, total_bytes_, files_ = 0, bytes_ = 0;
  std::chrono::steady_clock::time_point start_, last_draw_;
  bool enabled_, finished_ = false;
};

}  // namespace vard::mkpatch
