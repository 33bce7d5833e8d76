#pragma once
#include <cstdint>
#include <cstdio>

namespace veltrane::cli {

// A one-line progress bar on a terminal: "\r[#####     ]  50%", redrawn
// only when the percentage changes. A bar that reaches 100% ends its line,
// and finish() ends an open one, so that lines printed after it start in
// column 0. Does nothing when disabled.
class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool enabled) : out_(out), enabled_(enabled) {}
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(std::int32_t done, std::int32_t total);
  void finish();

 private:
  std::FILE* out_;
  bool enabled_;
  bool open_ = false;
  int shownPercent_ = -1;
};

}  // namespace veltrane::cli
