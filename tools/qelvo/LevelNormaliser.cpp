#include "tools/qelvo/LevelNormaliser.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// A calibration window keeps what a run collected, with a little room so
// nothing of the run leaves before it is written.
constexpr double kCalibrationSlack = 1.0;

}  // namespace

const char* FateName(LevelFate fate) {
  switch (fate) {
    case LevelFate::kPosted: return "posted";
    case LevelFate::kWaiting: return "waiting";
    case LevelFate::kWarming: return "warming up";
    case LevelFate::kDropped: return "dropped";
    case LevelFate::kHeld: return "held";
  }
  return "?";
}

struct LevelNormaliser::Rule {
  explicit Rule(const BridgeRule& rule) : config(rule) {
    const LevelShaping& s = rule.shaping;
    if (s.Adaptive()) statistics.emplace(s.window, kNormWindowCapacity);
    if (s.spike > 0) guard.emplace(kSpikeWindowSeconds, kSpikeWindowCapacity);
  }

  const BridgeRule& config;
  std::optional<SampleWindow> statistics;
  std::optional<SampleWindow> guard;
  std::optional<SampleWindow> collected;  // for a calibration
  const CalibrationEntry* calibration = nullptr;
  double warmStart = kNan;  // when the statistics started filling without a calibration
  double firstCollected = kNan, lastCollected = kNan;
  long long collectedCount = 0;
  // Smoothing.
  double smoothed = kNan;
  double smoothedAt = 0;
  // Rate limit and what holds.
  double lastPostAt = -std::numeric_limits<double>::infinity();
  std::optional<ShapedLevel> waiting;
  double lastLevel = kNan;
  RuleCounts counts;
};

LevelNormaliser::LevelNormaliser(const BridgeMap& map) : contactBad_(map.conditions.size(), false) {
  for (const BridgeRule& rule : map.rules) rules_.push_back(std::make_unique<Rule>(rule));
}

LevelNormaliser::~LevelNormaliser() = default;

void LevelNormaliser::UseCalibration(const std::vector<const CalibrationEntry*>& entries) {
  for (size_t i = 0; i < rules_.size() && i < entries.size(); ++i) rules_[i]->calibration = entries[i];
}

void LevelNormaliser::CollectCalibration(double seconds) {
  for (auto& r : rules_) r->collected.emplace(seconds + kCalibrationSlack, kCalibrationCapacity);
}

Calibration LevelNormaliser::MakeCalibration() const {
  Calibration c;
  for (const auto& r : rules_)
    if (r->collected && !r->collected->Empty())
      c.entries.push_back(
          MakeCalibrationEntry(r->config, *r->collected, r->collectedCount, r->lastCollected - r->firstCollected));
  return c;
}

bool LevelNormaliser::WarmsUp(size_t rule) const {
  const Rule& r = *rules_.at(rule);
  return r.statistics.has_value() && r.calibration == nullptr && r.config.shaping.warmup > 0;
}

const RuleCounts& LevelNormaliser::Counts(size_t rule) const { return rules_.at(rule)->counts; }

const SampleWindow* LevelNormaliser::Statistics(size_t rule) const {
  const Rule& r = *rules_.at(rule);
  return r.statistics ? &*r.statistics : nullptr;
}

const SampleWindow* LevelNormaliser::SpikeWindow(size_t rule) const {
  const Rule& r = *rules_.at(rule);
  return r.guard ? &*r.guard : nullptr;
}

double LevelNormaliser::LastLevel(size_t rule) const { return rules_.at(rule)->lastLevel; }

size_t LevelNormaliser::MemoryBytes() const {
  size_t bytes = 0;
  for (const auto& r : rules_)
    for (const std::optional<SampleWindow>* w : {&r->statistics, &r->guard, &r->collected})
      if (w->has_value()) bytes += (*w)->MemoryBytes();
  return bytes;
}

double LevelNormaliser::Normalise(const Rule& r, double raw) const {
  const LevelShaping& s = r.config.shaping;
  const SampleWindow& w = *r.statistics;
  double from = 0, to = 0;
  if (s.norm == LevelShaping::Norm::kPercentiles) {
    from = w.Percentile(0.05);
    to = w.Percentile(0.95);
  } else {
    const double mean = w.Mean(), sd = w.Deviation();
    from = mean - kZSpan * sd;
    to = mean + kZSpan * sd;
  }
  // Values that have all been the same have no spread to place a value in:
  // the middle of the range until they differ.
  const double u = to > from ? (raw - from) / (to - from) : 0.5;
  // NaN when the values are so far apart that their spread overflows.
  return std::lerp(s.low, s.high, std::isnan(u) ? 0.5 : std::clamp(u, 0.0, 1.0));
}

ShapedLevel LevelNormaliser::Shape(Rule& r, size_t index, double raw, double now) {
  const LevelShaping& s = r.config.shaping;
  ShapedLevel out{static_cast<int>(index), r.config.symbol, raw, r.lastLevel, LevelFate::kPosted};
  ++r.counts.values;
  for (size_t c : s.holdWhen)
    if (contactBad_[c]) {
      ++r.counts.held;
      out.fate = LevelFate::kHeld;
      return out;
    }

  if (r.guard) {
    SampleWindow& g = *r.guard;
    g.Expire(now);
    if (g.Empty() && r.calibration != nullptr) g.Seed(now, r.calibration->quantiles);
    const bool spike = g.Size() >= kSpikeMinimumValues && g.Mad() > 0 && std::abs(raw - g.Median()) > s.spike * g.Mad();
    // Spikes go into the guard's own window too: the median shrugs them off,
    // and a real step in the values becomes the new normal within half the
    // window instead of being dropped for ever.
    g.Add(now, raw);
    if (spike) {
      ++r.counts.dropped;
      out.fate = LevelFate::kDropped;
      return out;
    }
  }

  if (r.collected) {
    if (r.collectedCount == 0) r.firstCollected = now;
    r.lastCollected = now;
    ++r.collectedCount;
    r.collected->Add(now, raw);
  }

  double level = raw;
  if (r.statistics) {
    SampleWindow& w = *r.statistics;
    w.Expire(now);
    // At the start, and after a silence longer than the window, the
    // statistics begin again: from the calibration, or from a new warmup.
    if (w.Empty()) {
      if (r.calibration != nullptr)
        w.Seed(now, r.calibration->quantiles);
      else
        r.warmStart = now;
    }
    w.Add(now, raw);
    if (r.calibration == nullptr && now - r.warmStart < s.warmup) {
      ++r.counts.warming;
      out.fate = LevelFate::kWarming;
      return out;
    }
    level = Normalise(r, raw);
  }

  if (s.smooth > 0) {
    if (std::isnan(r.smoothed))
      r.smoothed = level;
    else
      r.smoothed = std::lerp(r.smoothed, level, 1 - std::exp(-(now - r.smoothedAt) / s.smooth));
    r.smoothedAt = now;
    level = r.smoothed;
  }

  out.level = level;
  if (s.rate > 0 && now - r.lastPostAt < 1 / s.rate) {
    if (r.waiting) ++r.counts.replaced;
    out.fate = LevelFate::kWaiting;
    r.waiting = out;
    return out;
  }
  if (r.waiting) ++r.counts.replaced;
  r.waiting.reset();
  r.lastPostAt = now;
  r.lastLevel = level;
  ++r.counts.posted;
  return out;
}

std::vector<ShapedLevel> LevelNormaliser::Take(const BridgeResult& result, double now) {
  std::vector<ShapedLevel> shaped;
  if (result.outcome != BridgeOutcome::kPosted) return shaped;
  for (const ContactReading& c : result.contact)
    if (c.condition < contactBad_.size()) contactBad_[c.condition] = c.bad;
  for (const BridgeLevel& l : result.levels) {
    if (l.rule < 0 || static_cast<size_t>(l.rule) >= rules_.size()) {
      shaped.push_back({l.rule, l.symbol, l.level, l.level, LevelFate::kPosted});
      continue;
    }
    shaped.push_back(Shape(*rules_[static_cast<size_t>(l.rule)], static_cast<size_t>(l.rule), l.level, now));
  }
  return shaped;
}

std::vector<ShapedLevel> LevelNormaliser::Due(double now) {
  std::vector<ShapedLevel> due;
  for (auto& r : rules_) {
    if (!r->waiting || now - r->lastPostAt < 1 / r->config.shaping.rate) continue;
    ShapedLevel l = *r->waiting;
    r->waiting.reset();
    l.fate = LevelFate::kPosted;
    r->lastPostAt = now;
    r->lastLevel = l.level;
    ++r->counts.posted;
    due.push_back(std::move(l));
  }
  return due;
}
