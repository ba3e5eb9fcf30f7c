// qelvo post, replay and monitor: level notifications on the session bus,
// sent exactly as the analyser sends them.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LevelTraces.h"
#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/Pictures.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/Suggest.h"
#include "tools/qelvo/ToolError.h"

namespace {

double ParseLevel(const std::string& text) {
  double value = 0;
  const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    throw UsageError("the level must be a finite number, got '" + text + "'");
  return value;
}

void CheckSymbol(const std::string& symbol) {
  // The same rule as level recordings, so what posts also replays.
  if (!IsMeasureName(symbol))
    throw UsageError("the symbol must be a measure name such as BS7V0 (no spaces, quotes or commas), got '" + symbol +
                     "'");
  const std::vector<std::string> known = AllMeasureNames();
  if (std::find(known.begin(), known.end(), symbol) == known.end())
    std::fprintf(stderr, "qelvo: warning: no plug-in follows %s%s; posting it anyway\n", symbol.c_str(),
                 DidYouMean(symbol, known).c_str());
}

// A loop repeats the recording with the spacing of its last two instants
// after the last one, so a recording of one level every 100 ms from 0.0 to
// 19.9 s loops every 20 s; at least a tenth of a second, so a recording of
// one instant does not flood the bus.
double LoopPeriod(const std::vector<LevelEvent>& events) {
  if (events.empty()) return 0.1;
  const double last = events.back().time;
  double gap = 0;
  for (auto it = events.rbegin(); it != events.rend(); ++it)
    if (it->time < last) {
      gap = last - it->time;
      break;
    }
  return std::max(last + gap, 0.1);
}

struct MonitorState {
  std::mutex mutex;
  std::chrono::steady_clock::time_point start;
  long long seen = 0;
  bool plot = false;
  LevelTraces traces;
};

// A level notification, or the bridge's notice of a value it did not post:
// the level then is in brackets, the one the plug-ins keep.
void PrintNotification(CFNotificationCenterRef, void* observer, CFStringRef name, const void* object,
                       CFDictionaryRef userInfo) {
  auto* state = static_cast<MonitorState*>(observer);
  const bool isLevel = name != nullptr && CFEqual(name, LevelNotificationName());
  const DecodedLevel level = DecodeLevelUserInfo(userInfo);
  std::lock_guard<std::mutex> lock(state->mutex);
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - state->start).count();
  std::printf("%10.3f  %-8s ", t, level.symbol ? level.symbol->c_str() : "(none)");
  if (isLevel)
    std::printf(" %s", level.level ? ShortestText(*level.level).c_str() : "(no level)");
  else
    std::printf(" (%s)", level.level ? ShortestText(*level.level).c_str() : "no level yet");
  if (level.raw) std::printf("  raw %s", ShortestText(*level.raw).c_str());
  if (level.fate) std::printf("  %s", level.fate->c_str());
  if (object != nullptr && CFGetTypeID(object) == CFStringGetTypeID())
    std::printf("  from %s", StringOf(static_cast<CFStringRef>(object)).c_str());
  std::printf("\n");
  std::fflush(stdout);
  if (state->plot && level.symbol) state->traces.Add(t, *level.symbol, level.raw, level.level, level.fate.value_or(""));
  if (isLevel) ++state->seen;
}

}  // namespace

int RunPostCommand(const PostOptions& options) {
  CheckSymbol(options.symbol);
  const double level = ParseLevel(options.level);
  CFNotificationCenterRef center = RequireBus("post");
  PostLevel(center, options.symbol, level);
  std::printf("posted %s = %s\n", options.symbol.c_str(), ShortestText(level).c_str());
  return kExitOk;
}

int RunReplayCommand(const ReplayOptions& options) {
  if (!(options.speed > 0) || !std::isfinite(options.speed)) throw UsageError("--speed must be a positive number");
  const std::vector<LevelEvent> events = ReadLevelCsv(options.file);
  CFNotificationCenterRef center = RequireBus("replay");
  CatchInterrupts();
  // While the bus is away levels are dropped and counted; the replay keeps
  // its time and posts again once the centre has reconnected.
  LevelPoster poster(center, "replay");
  const double period = LoopPeriod(events);
  long long posted = 0;
  double offset = 0;
  const auto start = std::chrono::steady_clock::now();
  do {
    for (const LevelEvent& e : events) {
      const double due = (offset + e.time) / options.speed;
      const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (due > now && !SleepUnlessInterrupted(due - now)) break;
      if (Interrupted()) break;
      if (poster.Post(e.symbol, e.level)) ++posted;
    }
    offset += period;
  } while (options.loop && !Interrupted());
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("replayed %lld level%s from %s in %.2f s", posted, posted == 1 ? "" : "s", options.file.c_str(), took);
  if (const uint64_t dropped = poster.Dropped(); dropped > 0)
    std::printf(", %llu dropped while the session bus was away", static_cast<unsigned long long>(dropped));
  std::printf("\n");
  return kExitOk;
}

int RunMonitorCommand(const MonitorOptions& options) {
  if (options.count < 0) throw UsageError("--count must not be negative");
  if (options.timeout < 0 || !std::isfinite(options.timeout)) throw UsageError("--timeout must not be negative");
  // A picture that cannot be written should say so now, not after the watch.
  if (!options.plot.empty()) AtomicOutput probe(options.plot);
  MonitorState state;
  state.start = std::chrono::steady_clock::now();
  state.plot = !options.plot.empty();
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  for (CFStringRef name : {LevelNotificationName(), BridgeValueNotificationName()})
    CFNotificationCenterAddObserver(center, &state, PrintNotification, name, nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
  try {
    RequireBus("monitor");  // waits until the bus has taken the observations
  } catch (...) {
    CFNotificationCenterRemoveEveryObserver(center, &state);
    throw;
  }
  CatchInterrupts();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.start = std::chrono::steady_clock::now();
  }
  // Observing from here on: tell whoever waits for us.
  std::fprintf(stderr, "qelvo monitor: listening for \"%s\" on the session bus\n", kLevelNotificationName);
  std::fflush(stderr);
  bool connected = true;
  for (;;) {
    // The centre reconnects by itself; say so when the bus goes and comes.
    std::string reason;
    const bool now = QelvoNotificationCenterWaitUntilConnected(center, 0, &reason) == 0;
    if (now != connected) {
      if (now)
        std::fprintf(stderr, "qelvo monitor: the session bus is back; listening again\n");
      else
        std::fprintf(stderr, "qelvo monitor: lost the session bus (%s); waiting for it to come back\n", reason.c_str());
      std::fflush(stderr);
      connected = now;
    }
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      if (options.count > 0 && state.seen >= options.count) break;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - state.start).count();
    if (options.timeout > 0 && elapsed >= options.timeout) break;
    if (!SleepUnlessInterrupted(0.02)) break;
  }
  CFNotificationCenterRemoveEveryObserver(center, &state);
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.plot) {
    if (state.traces.SymbolsLeftOut() > 0)
      std::fprintf(stderr, "qelvo monitor: the picture shows the first %zu symbols seen; %zu more are left out\n",
                   state.traces.Traces().size(), state.traces.SymbolsLeftOut());
    DrawLevelTraces(state.traces, "Levels seen by qelvo monitor", options.plot);
  }
  if (options.count > 0 && state.seen < options.count && !Interrupted())
    throw ToolError("saw " + std::to_string(state.seen) + " of " + std::to_string(options.count) +
                    " level notifications before the timeout");
  return kExitOk;
}
