#include "tools/qelvo/BridgeLevels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::string Plural(long long n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Statistics for people: four significant digits.
std::string Short(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

// The level as posted, or "no level yet" before the first.
std::string LevelText(double level) { return std::isnan(level) ? "no level yet" : ShortestText(level); }

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g s", s);
  return buf;
}

std::string RuleName(const BridgeRule& r) {
  return r.symbol + " (" + r.address + " " + (r.argument < 0 ? "*" : std::to_string(r.argument)) + ")";
}

}  // namespace

BridgeLevels::BridgeLevels(const BridgeMap& map, const BridgeLevelOptions& options)
    : map_(map), options_(options), normaliser_(map), contactShown_(map.conditions.size(), false) {
  for (const BridgeRule& rule : map.rules) needsTicks_ = needsTicks_ || rule.shaping.rate > 0;
  if (options.calibrateSeconds > 0 || !options.calibrationFile.empty()) {
    if (map.defaultAddress)
      throw UsageError(std::string(options.calibrateSeconds > 0 ? "--calibrate" : "--calibration") +
                       " needs a --map whose rules to calibrate; /kest/level carries levels as they are");
  }
  if (options.calibrateSeconds > 0) {
    if (!std::isfinite(options.calibrateSeconds) || options.calibrateSeconds > 86400)
      throw UsageError("--calibrate wants a number of seconds above 0 and at most 86400");
    if (options.saveCalibration.empty()) throw UsageError("--calibrate needs --save-calibration FILE to write to");
    normaliser_.CollectCalibration(options.calibrateSeconds);
  } else if (!options.saveCalibration.empty()) {
    throw UsageError("--save-calibration needs --calibrate SECONDS, how long to collect the baseline");
  }
  if (!options.calibrationFile.empty()) {
    calibration_ = ReadCalibration(options.calibrationFile);
    std::vector<std::string> warnings;
    normaliser_.UseCalibration(MatchCalibration(calibration_, map, options.calibrationFile, &warnings));
    for (const std::string& w : warnings)
      std::fprintf(stderr, "qelvo %s: warning: %s\n", options.command.c_str(), w.c_str());
  }
}

void BridgeLevels::Start(Sink sink, Log log) {
  sink_ = std::move(sink);
  log_ = std::move(log);
  start_ = std::chrono::steady_clock::now();
}

// So a quiet start is not taken for a fault.
void BridgeLevels::SayWhoWarmsUp() const {
  std::string warming;
  double least = 86400, most = 0;
  for (size_t i = 0; i < map_.rules.size(); ++i)
    if (normaliser_.WarmsUp(i)) {
      warming += (warming.empty() ? "" : ", ") + map_.rules[i].symbol;
      least = std::min(least, map_.rules[i].shaping.warmup);
      most = std::max(most, map_.rules[i].shaping.warmup);
    }
  if (!warming.empty()) {
    std::fprintf(stderr,
                 "qelvo %s: %s post%s nothing until %s%s of values have arrived, while the statistics fill "
                 "(warmup= in the map; --calibration FILE starts from a saved baseline instead)\n",
                 options_.command.c_str(), warming.c_str(), warming.find(',') == std::string::npos ? "s" : "",
                 least < most ? "up to " : "", Seconds(most).c_str());
    std::fflush(stderr);
  }
}

double BridgeLevels::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

BridgeLevels::Emitted BridgeLevels::Take(const BridgeResult& result, const std::string& address) {
  const std::vector<ShapedLevel> shaped = normaliser_.Take(result, Now());
  for (const ContactReading& c : result.contact) {
    if (contactShown_[c.condition] == c.bad) continue;
    contactShown_[c.condition] = c.bad;
    Say("contact: " + map_.conditions[c.condition].text +
        (c.bad ? " is true: rules with it hold their levels" : " is false again: levels go on"));
  }
  return Emit(shaped, address);
}

BridgeLevels::Emitted BridgeLevels::Tick() { return Emit(normaliser_.Due(Now()), ""); }

BridgeLevels::Emitted BridgeLevels::Emit(const std::vector<ShapedLevel>& shaped, const std::string& from) {
  Emitted emitted;
  for (const ShapedLevel& s : shaped) {
    if (s.fate == LevelFate::kWaiting) {
      // Announced once it is posted, or counted when a later one replaces it.
      Say("waiting: " + s.symbol + " = " + ShortestText(s.level) + " (raw " + ShortestText(s.raw) + " from " + from +
          "; a later level may replace it)");
      continue;
    }
    const bool posted = sink_(s);
    const std::string source = from.empty() ? "" : " from " + from;
    const bool shapedByRule = s.rule >= 0 && s.raw != s.level;
    switch (s.fate) {
      case LevelFate::kPosted:
        ++(posted ? emitted.posted : emitted.dropped);
        Say(std::string(posted ? "posted: " : "dropped (no bus): ") + s.symbol + " = " + ShortestText(s.level) + " (" +
            (from.empty() ? "its turn under rate=" : "from " + from) +
            (shapedByRule ? ", raw " + ShortestText(s.raw) : "") + ")");
        break;
      case LevelFate::kWarming:
        Say("warming up: " + s.symbol + " raw " + ShortestText(s.raw) + source);
        break;
      case LevelFate::kDropped: {
        const SampleWindow* g = normaliser_.SpikeWindow(static_cast<size_t>(s.rule));
        Say("dropped: " + s.symbol + " raw " + ShortestText(s.raw) + source + " is a spike (median " +
            Short(g->Median()) + ", MAD " + Short(g->Mad()) + "); " + LevelText(s.level) + " holds");
        break;
      }
      case LevelFate::kHeld:
        Say("held: " + s.symbol + " raw " + ShortestText(s.raw) + source + " while contact is bad; " +
            LevelText(s.level) + " holds");
        break;
      case LevelFate::kWaiting:
        break;
    }
  }
  return emitted;
}

std::vector<std::string> BridgeLevels::Summary() const {
  std::vector<std::string> lines;
  for (size_t i = 0; i < map_.rules.size(); ++i) {
    const RuleCounts& c = normaliser_.Counts(i);
    if (c.values == 0) continue;
    const BridgeRule& rule = map_.rules[i];
    std::string line = RuleName(rule) + ": " + Plural(c.values, "value") + ", " + std::to_string(c.posted) + " posted";
    if (c.warming > 0) line += ", " + std::to_string(c.warming) + " warming up";
    if (c.dropped > 0) line += ", " + std::to_string(c.dropped) + " dropped as spikes";
    if (c.held > 0) line += ", " + std::to_string(c.held) + " held";
    if (c.replaced > 0) line += ", " + std::to_string(c.replaced) + " replaced under rate=";
    if (const SampleWindow* w = normaliser_.Statistics(i); w != nullptr && !w->Empty()) {
      if (rule.shaping.norm == LevelShaping::Norm::kPercentiles)
        line += "; 5th..95th percentile " + Short(w->Percentile(0.05)) + ".." + Short(w->Percentile(0.95));
      else
        line += "; mean " + Short(w->Mean()) + ", sd " + Short(w->Deviation());
      line += " over the last " + Seconds(rule.shaping.window);
    }
    if (const SampleWindow* g = normaliser_.SpikeWindow(i); g != nullptr && !g->Empty())
      line += "; median " + Short(g->Median()) + ", MAD " + Short(g->Mad());
    const double last = normaliser_.LastLevel(i);
    line += "; last level " + (std::isnan(last) ? std::string("none") : Short(last));
    lines.push_back(std::move(line));
  }
  return lines;
}

void BridgeLevels::Finish(bool interrupted) {
  for (const std::string& line : Summary()) std::printf("qelvo %s: %s\n", options_.command.c_str(), line.c_str());
  std::fflush(stdout);
  if (options_.calibrateSeconds <= 0) return;
  const std::string& file = options_.saveCalibration;
  const double ran = Now();
  if (interrupted && ran < options_.calibrateSeconds)
    throw ToolError("the calibration was stopped after " + Seconds(ran) + " of " + Seconds(options_.calibrateSeconds) +
                    "; " + file + " is not written");
  const Calibration calibration = normaliser_.MakeCalibration();
  if (calibration.entries.empty())
    throw ToolError("no values for any rule of the map arrived during the calibration; " + file +
                    " is not written (is the sender sending to this port?)");
  std::string missing;
  for (size_t i = 0; i < map_.rules.size(); ++i)
    if (normaliser_.Counts(i).values == normaliser_.Counts(i).held + normaliser_.Counts(i).dropped)
      missing += (missing.empty() ? "" : ", ") + RuleName(map_.rules[i]);
  if (!missing.empty())
    std::fprintf(stderr, "qelvo %s: warning: no values during the calibration for %s; not in %s\n",
                 options_.command.c_str(), missing.c_str(), file.c_str());
  WriteCalibration(calibration, file);
  std::printf("qelvo %s: calibration of %s written to %s\n", options_.command.c_str(),
              Plural(static_cast<long long>(calibration.entries.size()), "rule").c_str(), file.c_str());
}
