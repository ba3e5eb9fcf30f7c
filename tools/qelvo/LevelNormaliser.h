// What becomes of each value a map rule reads on its way to the bus, in this
// order:
//   hold-when=  while a contact condition is bad the value is held: the
//               plug-ins keep the last level and the value is not learnt;
//   spike=K     a value more than K median absolute deviations from the
//               median of the last 10 s is dropped, and the last level holds;
//   norm=/z=    the value is mapped through the distribution of the last
//               SECONDS onto range=LOW..HIGH (5th..95th percentile, or z -2..+2,
//               clamped); nothing is posted for the first warmup= seconds;
//   smooth=     an exponential moving average with that time constant;
//   rate=       at most HZ levels a second: a level that comes too soon waits,
//               and a later one replaces it (Due() posts it when its turn comes).
//
// Times are seconds on any clock that does not go back, given by the caller,
// so a test can push an hour of values through in a moment. Memory per rule
// is fixed (SampleWindow). Not thread-safe: one thread feeds it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Calibration.h"
#include "tools/qelvo/SampleWindow.h"

enum class LevelFate {
  kPosted,   // post it now
  kWaiting,  // a level waiting for its turn under rate=
  kWarming,  // the rule's statistics are still filling
  kDropped,  // a spike: the last level holds
  kHeld,     // bad contact: the last level holds
};
// "posted", "waiting", "warming up", "dropped", "held".
const char* FateName(LevelFate fate);

struct ShapedLevel {
  int rule = -1;  // index into the map's rules; -1 for /kest/level
  std::string symbol;
  double raw = 0;    // the value the rule read (after log, scale and offset)
  double level = 0;  // posted or waiting; otherwise the level that holds (NaN before the first)
  LevelFate fate = LevelFate::kPosted;
};

// Statistics windows and limits: the percentile or z window has room for
// 1024 values, the spike guard's 10 s for 256, a calibration for 4096.
inline constexpr size_t kNormWindowCapacity = 1024;
inline constexpr double kSpikeWindowSeconds = 10;
inline constexpr size_t kSpikeWindowCapacity = 256;
inline constexpr size_t kCalibrationCapacity = 4096;
// The spike guard judges no value before it has seen this many.
inline constexpr size_t kSpikeMinimumValues = 5;
// z-scores from -kZSpan to +kZSpan span the range.
inline constexpr double kZSpan = 2;

struct RuleCounts {
  long long values = 0, posted = 0, replaced = 0, warming = 0, dropped = 0, held = 0;
};

class LevelNormaliser {
 public:
  // The map must outlive the normaliser.
  explicit LevelNormaliser(const BridgeMap& map);
  LevelNormaliser(const LevelNormaliser&) = delete;
  LevelNormaliser& operator=(const LevelNormaliser&) = delete;
  ~LevelNormaliser();

  // Starts rules from a saved baseline: their statistics windows fill with
  // it at their first value (and again should a silence empty them), so they
  // post at once and go on adapting. entries[i] is rule i's, or null.
  void UseCalibration(const std::vector<const CalibrationEntry*>& entries);
  // Collects the values every rule learns from, for a calibration of this
  // many seconds.
  void CollectCalibration(double seconds);
  // A calibration of the rules that collected any value.
  Calibration MakeCalibration() const;

  // One translated message at time now: contact first, then each level.
  std::vector<ShapedLevel> Take(const BridgeResult& result, double now);
  // Levels that waited under rate= and whose turn has come.
  std::vector<ShapedLevel> Due(double now);

  // Whether rule i adapts and has no calibration to start from.
  bool WarmsUp(size_t rule) const;
  bool ContactBad(size_t condition) const { return contactBad_.at(condition); }

  // For the summary.
  const RuleCounts& Counts(size_t rule) const;
  const SampleWindow* Statistics(size_t rule) const;  // norm= or z=, else null
  const SampleWindow* SpikeWindow(size_t rule) const;  // spike=, else null
  double LastLevel(size_t rule) const;                 // NaN before the first post
  // Memory the rules' windows hold, for the bounded-memory check.
  size_t MemoryBytes() const;

 private:
  struct Rule;
  ShapedLevel Shape(Rule& r, size_t index, double raw, double now);
  double Normalise(const Rule& r, double raw) const;

  std::vector<std::unique_ptr<Rule>> rules_;
  std::vector<bool> contactBad_;
};
