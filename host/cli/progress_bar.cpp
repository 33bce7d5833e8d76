#include "progress_bar.h"

#include <algorithm>
#include <string>

namespace veltrane::cli {

namespace {
constexpr int barWidth = 30;
}

void ProgressBar::update(std::int32_t done, std::int32_t total) {
  if (!enabled_ || total <= 0) return;
  const std::int64_t clamped = std::clamp<std::int64_t>(done, 0, total);
  const int percent = static_cast<int>(clamped * 100 / total);
  // Also keeps a completed bar from being drawn again by a repeated 100%.
  if (percent == shownPercent_) return;
  // A new bar when an earlier one was completed or the count went back.
  if (open_ && percent < shownPercent_) finish();
  const int filled = percent * barWidth / 100;
  std::string line = "\r[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(barWidth - filled), ' ');
  line += "] " + std::string(percent < 10 ? "  " : percent < 100 ? " " : "") + std::to_string(percent) + "%";
  std::fputs(line.c_str(), out_);
  open_ = true;
  shownPercent_ = percent;
  if (percent == 100) finish();
  std::fflush(out_);
}

void ProgressBar::finish() {
  if (!open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  open_ = false;
}

}  // namespace veltrane::cli
