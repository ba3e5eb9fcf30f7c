// Fuzz target: level recordings as `qelvo render --levels` and `qelvo replay`
// read them. The parser may refuse a text, with a message, but must never
// crash, loop or read outside it; what it accepts holds finite levels at
// finite times that never decrease, symbols a level can carry, and line
// numbers that only grow.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/ToolError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<LevelEvent> events;
  try {
    events = ParseLevelCsv(text, "fuzz.csv");
  } catch (const ToolError&) {
    return 0;
  }
  double lastTime = 0;
  int lastLine = 0;
  for (const LevelEvent& e : events) {
    if (!std::isfinite(e.time) || e.time < lastTime || !std::isfinite(e.level)) std::abort();
    if (!IsMeasureName(e.symbol) || e.line <= lastLine) std::abort();
    if (LevelFrame(e.time, 48000) < 0) std::abort();
    lastTime = e.time;
    lastLine = e.line;
  }
  return 0;
}
