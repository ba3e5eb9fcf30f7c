// What `qelvo monitor --plot` draws: for each symbol seen, the levels posted
// and, for levels that came through the bridge, the raw values with their
// fate. Memory is bounded however long the monitor runs: a symbol keeps at
// most kMaxTracePoints points (past that it keeps every other one, and takes
// every second one from then on), and at most kMaxTraceSymbols symbols are
// kept. DrawLevelTraces (Pictures.h) draws them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

inline constexpr size_t kMaxTracePoints = 20000;
inline constexpr size_t kMaxTraceSymbols = 6;

struct TracePoint {
  double time = 0;
  double raw = 0;    // NaN when the sender gave none
  double level = 0;  // the level posted, or the one that holds; NaN for none
  char fate = 'p';   // 'p' posted, 'd' dropped, 'h' held, 'w' warming up
};

struct LevelTrace {
  std::string symbol;
  std::vector<TracePoint> points;
  size_t stride = 1;  // keeps one point in this many
  size_t seen = 0;
};

class LevelTraces {
 public:
  // fate: as the bridge names it ("posted", "dropped", ...); empty for a
  // level from another sender.
  void Add(double time, const std::string& symbol, std::optional<double> raw, std::optional<double> level,
           const std::string& fate);
  const std::vector<LevelTrace>& Traces() const { return traces_; }
  // Symbols seen beyond kMaxTraceSymbols, which are not drawn.
  size_t SymbolsLeftOut() const { return leftOut_.size(); }
  double Duration() const { return last_; }

 private:
  std::vector<LevelTrace> traces_;
  std::vector<std::string> leftOut_;  // names not kept, up to a thousand, for the count
  double last_ = 0;
};
