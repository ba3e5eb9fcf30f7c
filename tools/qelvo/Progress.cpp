#include "tools/qelvo/Progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {
constexpr int kWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Before this much of it, the pace says little about the rest.
constexpr double kMinSecondsForEstimate = 1.0;

std::string Clock(double seconds) {
  const long long s = std::llround(seconds);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  return buf;
}
}  // namespace

std::string ProgressLine(const std::string& label, long long done, long long total, double elapsedSeconds) {
  char buf[128];
  if (total <= 0) {
    std::snprintf(buf, sizeof buf, " %lld", done);
    return label + buf;
  }
  const double fraction = done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const int filled = static_cast<int>(fraction * kWidth);
  std::snprintf(buf, sizeof buf, " [%.*s%*s] %3d%%", filled, "##############################", kWidth - filled, "",
                static_cast<int>(fraction * 100));
  std::string line = label + buf;
  if (fraction > 0 && fraction < 1 && elapsedSeconds >= kMinSecondsForEstimate)
    line += "  " + Clock(elapsedSeconds * (1 - fraction) / fraction) + " left";
  return line;
}

bool ProgressBar::TerminalAttached() { return isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(std::string label, long long total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(long long done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < kRedrawInterval && done < total_) return;
  lastDraw_ = now;
  drawn_ = true;
  const std::string line = ProgressLine(label_, done, total_, std::chrono::duration<double>(now - start_).count());
  // Pads over the end of a longer previous line.
  std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(width_ > line.size() ? width_ - line.size() : 0), "");
  if (line.size() > width_) width_ = line.size();
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
  drawn_ = false;
}
