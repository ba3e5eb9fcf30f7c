#include "tools/qelvo/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr int kWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

bool ProgressBar::TerminalAttached() { return isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(std::string label, long long total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(long long done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < kRedrawInterval && done < total_) return;
  lastDraw_ = now;
  drawn_ = true;
  if (total_ > 0) {
    const double fraction = done >= total_ ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kWidth);
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled, "##############################",
                 kWidth - filled, "", static_cast<int>(fraction * 100));
  } else {
    std::fprintf(stderr, "\r%s %lld", label_.c_str(), done);
  }
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kWidth + 10, "");
  std::fflush(stderr);
  drawn_ = false;
}
