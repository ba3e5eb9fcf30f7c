#include "tools/qelvo/LevelTraces.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kMaxLeftOutNames = 1000;

char FateLetter(const std::string& fate) {
  if (fate == "dropped") return 'd';
  if (fate == "held") return 'h';
  if (fate == "warming up") return 'w';
  return 'p';
}

}  // namespace

void LevelTraces::Add(double time, const std::string& symbol, std::optional<double> raw, std::optional<double> level,
                      const std::string& fate) {
  last_ = std::max(last_, time);
  auto trace = std::find_if(traces_.begin(), traces_.end(), [&](const LevelTrace& t) { return t.symbol == symbol; });
  if (trace == traces_.end()) {
    if (traces_.size() >= kMaxTraceSymbols) {
      if (leftOut_.size() < kMaxLeftOutNames && std::find(leftOut_.begin(), leftOut_.end(), symbol) == leftOut_.end())
        leftOut_.push_back(symbol);
      return;
    }
    traces_.push_back({symbol, {}, 1, 0});
    trace = traces_.end() - 1;
  }
  if (trace->seen++ % trace->stride != 0) return;
  if (trace->points.size() >= kMaxTracePoints) {
    // Every other point goes, and from now on only every other one comes.
    for (size_t i = 0; i < trace->points.size() / 2; ++i) trace->points[i] = trace->points[2 * i];
    trace->points.resize(trace->points.size() / 2);
    trace->stride *= 2;
  }
  trace->points.push_back({time, raw.value_or(kNan), level.value_or(kNan), FateLetter(fate)});
}
