// A progress bar on standard error, shown only when that is a terminal.
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
  std::chrono::steady_clock::time_point lastDraw_{};
};
