// A one-line progress bar on standard output, drawn only when it is a terminal, so that
// logs and pipes get the summary alone.
#pragma once

#include <cstdint>
#include <string>

namespace vard::mkpatch {

class ProgressBar {
 public:
  ProgressBar(std::string title, uint64_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Advance(uint64_t amount, const std::string& label);
  void Finish();

 private:
  void Draw(const std::string& label);
  std::string title_;
  uint64_t total_, done_ = 0;
  bool enabled_, finished_ = false;
};

}  // namespace vard::mkpatch
