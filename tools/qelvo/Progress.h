// A progress bar on standard error, shown only when that is a terminal, with
// the time left once it can be estimated.
#pragma once

#include <chrono>
#include <string>

class ProgressBar {
 public:
  // total: the expected amount (frames); 0 when unknown.
  ProgressBar(std::string label, long long total, bool enabled);
  ~ProgressBar();
  void Update(long long done);
  // Clears the bar so the summary line starts clean.
  void Finish();

  static bool TerminalAttached();

 private:
  std::string label_;
  long long total_;
  bool enabled_;
  bool drawn_ = false;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// One line of the bar: "rendering [#####     ]  42%  0:13 left". The time
// left follows the pace so far, after a second of it; none before, or
// when the total is unknown.
std::string ProgressLine(const std::string& label, long long done, long long total, double elapsedSeconds);
