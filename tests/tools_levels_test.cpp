// The bridge's level shaping without a bus: running statistics, streams with
// known statistics pushed through a map's rules on a simulated clock
// (an hour takes a moment), calibration files, and the map options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "support/ToolErrorText.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Calibration.h"
#include "tools/qelvo/LevelNormaliser.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LevelTraces.h"
#include "tools/qelvo/SampleWindow.h"

namespace {

// Percentile as a sorted list gives it, the reference for the window.
double Reference(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const double r = p * static_cast<double>(v.size() - 1);
  const size_t i = static_cast<size_t>(r);
  return i + 1 < v.size() ? v[i] + (r - static_cast<double>(i)) * (v[i + 1] - v[i]) : v.back();
}

TEST(SampleWindow, StatisticsMatchTheSortedValues) {
  std::mt19937 random(7);
  for (size_t n : {1u, 2u, 3u, 10u, 101u, 500u}) {
    SampleWindow w(100, 1024);
    std::vector<double> values;
    for (size_t i = 0; i < n; ++i) {
      values.push_back(std::uniform_real_distribution<double>(-5, 20)(random));
      w.Add(static_cast<double>(i) * 0.1, values.back());
    }
    ASSERT_EQ(w.Size(), n);
    for (double p : {0.0, 0.05, 0.5, 0.95, 1.0}) EXPECT_DOUBLE_EQ(w.Percentile(p), Reference(values, p)) << n << " " << p;
    const double median = Reference(values, 0.5);
    std::vector<double> deviations;
    for (double v : values) deviations.push_back(std::abs(v - median));
    EXPECT_DOUBLE_EQ(w.Mad(), Reference(deviations, 0.5)) << n;
    double mean = 0, square = 0;
    for (double v : values) mean += v / static_cast<double>(n);
    for (double v : values) square += (v - mean) * (v - mean) / static_cast<double>(n);
    EXPECT_NEAR(w.Mean(), mean, 1e-9);
    EXPECT_NEAR(w.Deviation(), std::sqrt(square), 1e-9);
  }
}

TEST(SampleWindow, OldValuesLeaveAndFastOnesAreThinned) {
  SampleWindow w(10, 100);  // room for one value every 0.1 s
  for (int i = 0; i < 200; ++i) w.Add(0.05 + i * 0.1, i);  // 20 s, one every 0.1 s
  EXPECT_EQ(w.Size(), 100u);
  EXPECT_EQ(w.Percentile(0), 100);  // the last 10 s
  EXPECT_EQ(w.Percentile(1), 199);
  // Ten times faster: one value in ten is kept, spread over the window.
  SampleWindow fast(10, 100);
  for (int i = 0; i < 2000; ++i) fast.Add(0.005 + i * 0.01, i);
  EXPECT_EQ(fast.Size(), 100u);
  EXPECT_EQ(fast.Percentile(0), 1000);
  EXPECT_EQ(fast.Percentile(0.5), 1495);
  // A silence longer than the window empties it.
  w.Expire(100);
  EXPECT_TRUE(w.Empty());
  EXPECT_TRUE(std::isnan(w.Percentile(0.5)));
}

TEST(SampleWindow, ASeedAgesOutAcrossTheWholeDistribution) {
  const std::vector<double> quantiles = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  SampleWindow w(60, 1024);
  w.Seed(0, quantiles);
  EXPECT_EQ(w.Size(), 1024u);
  EXPECT_EQ(w.Percentile(0), 0);
  EXPECT_EQ(w.Percentile(1), 20);
  EXPECT_NEAR(w.Percentile(0.05), 1, 0.02);
  EXPECT_NEAR(w.Mad(), 5, 0.02);
  // Half the window later half the seed is gone, and what is left still
  // spans the whole distribution rather than only its top.
  w.Expire(30);
  EXPECT_NEAR(static_cast<double>(w.Size()), 512, 2);
  EXPECT_NEAR(w.Median(), 10, 0.1);
  EXPECT_LT(w.Percentile(0.01), 0.5);
}

// A map and its normaliser, fed one float per message on a simulated clock.
struct Stream {
  explicit Stream(const std::string& text) : map(ParseBridgeMap(text, "t.map")), levels(map) {}
  std::vector<ShapedLevel> Send(const std::string& address, double value, double t) {
    return levels.Take(TranslateOscMessage(map, address, {{'f', value, ""}}), t);
  }
  void Contact(const std::string& address, int value, double t) {
    levels.Take(TranslateOscMessage(map, address, {{'i', static_cast<double>(value), ""}}), t);
  }
  // The first shaped level of a message (one rule per address here).
  ShapedLevel One(const std::string& address, double value, double t) { return Send(address, value, t).at(0); }

  BridgeMap map;
  LevelNormaliser levels;
};

struct Posted {
  double time;
  double level;
};

// Sends f(t) to /a every dt seconds from 0 to seconds; keeps what was posted.
template <class F>
std::vector<Posted> Feed(Stream& s, double seconds, double dt, F f, double start = 0) {
  std::vector<Posted> posted;
  for (double t = start; t < start + seconds; t += dt) {
    const ShapedLevel l = s.One("/a", f(t), t);
    if (l.fate == LevelFate::kPosted) posted.push_back({t, l.level});
  }
  return posted;
}

std::pair<double, double> Extent(const std::vector<Posted>& p, double from, double to) {
  double lo = 1e300, hi = -1e300;
  for (const Posted& x : p)
    if (x.time >= from && x.time < to) {
      lo = std::min(lo, x.level);
      hi = std::max(hi, x.level);
    }
  return {lo, hi};
}

// Deterministic noise, the same on every run.
struct Noise {
  std::mt19937 random{11};
  std::normal_distribution<double> normal{0, 1};
  double operator()() { return normal(random); }
};

TEST(LevelShaping, ADriftingBaselineKeepsMovingTheLevelAcrossItsRange) {
  // The baseline quadruples over five minutes; the level should keep
  // swinging with the 7 s rhythm on top rather than creep to one end.
  Stream s("/a 0 BS3V0 norm=window:30 range=5..60\n");
  const auto posted = Feed(s, 300, 0.1, [](double t) {
    return (1 + 3 * t / 300) * (1 + 0.3 * std::sin(2 * std::numbers::pi * t / 7));
  });
  for (const Posted& p : posted) ASSERT_TRUE(p.level >= 5 && p.level <= 60) << p.time << " " << p.level;
  for (double from : {60.0, 180.0, 270.0}) {
    const auto [lo, hi] = Extent(posted, from, from + 30);
    EXPECT_LT(lo, 12) << "from " << from;
    EXPECT_GT(hi, 53) << "from " << from;
  }
}

TEST(LevelShaping, AStepChangeBecomesTheNewNormalWithinAWindow) {
  for (bool guarded : {false, true}) {
    Stream s(std::string("/a 0 BS3V0 norm=window:20 range=0..100 warmup=0") + (guarded ? " spike=8" : "") + "\n");
    Noise noise;
    const auto posted = Feed(s, 120, 0.1, [&](double t) { return (t < 60 ? 1.0 : 10.0) + 0.1 * noise(); });
    const auto [lo, hi] = Extent(posted, 60, 61);
    if (guarded) {
      // The guard takes the step for a spike at first, but learns it within
      // half its window rather than dropping the new values for ever.
      EXPECT_GT(lo, hi) << "nothing posted just after the step";
      EXPECT_GT(s.levels.Counts(0).dropped, 0);
      EXPECT_LT(s.levels.Counts(0).dropped, 60);
    } else {
      EXPECT_EQ(lo, 100) << "the step goes straight to the top";
      EXPECT_EQ(hi, 100);
    }
    // A window after the step its values are the new normal.
    std::vector<double> late;
    for (const Posted& p : posted)
      if (p.time >= 85) late.push_back(p.level);
    ASSERT_GT(late.size(), 300u) << guarded;
    EXPECT_NEAR(Reference(late, 0.5), 50, 10) << guarded;
    EXPECT_LT(Reference(late, 0.1), 25) << guarded;
    EXPECT_GT(Reference(late, 0.9), 75) << guarded;
  }
}

TEST(LevelShaping, SpikesAreDroppedCountedAndHoldTheLevel) {
  // Blink-like: one value thirty times the baseline every 2 s.
  Stream s("/a 0 BS3V0 norm=window:30 range=5..60 warmup=0 spike=8\n");
  Noise noise;
  int spikes = 0;
  double last = std::nan("");
  for (int i = 0; i < 600; ++i) {
    const double t = i * 0.1;
    const bool spike = i % 20 == 10;
    spikes += spike;
    const ShapedLevel l = s.One("/a", spike ? 300 : 10 + noise(), t);
    if (spike) {
      EXPECT_EQ(l.fate, LevelFate::kDropped) << t;
      EXPECT_EQ(l.level, last) << "the previous level holds";
    } else {
      ASSERT_EQ(l.fate, LevelFate::kPosted) << t << " raw " << l.raw;
      last = l.level;
    }
  }
  EXPECT_EQ(s.levels.Counts(0).dropped, spikes);
  EXPECT_EQ(s.levels.Counts(0).posted, 600 - spikes);
  // The spikes never reached the statistics the levels come from.
  EXPECT_LT(s.levels.Statistics(0)->Percentile(1), 20);
}

TEST(LevelShaping, ALogScaledStreamMapsItsZScoreOntoTheRange) {
  // Log10 band powers, as Mind Monitor sends them, normalised as they come.
  Stream s("/a * BS3V0 z=60 range=0..20 warmup=5\n");
  Noise noise;
  const auto posted = Feed(s, 600, 0.1, [&](double) { return 0.3 + 0.15 * noise(); });
  double sum = 0;
  for (const Posted& p : posted) {
    ASSERT_TRUE(p.level >= 0 && p.level <= 20) << p.level;
    sum += p.level;
  }
  EXPECT_NEAR(sum / static_cast<double>(posted.size()), 10, 0.5);
  // z -2..+2 spans the range: a value two deviations up lands at the top.
  const SampleWindow& w = *s.levels.Statistics(0);
  EXPECT_NEAR(s.One("/a", w.Mean() + 2 * w.Deviation(), 600).level, 20, 0.05);
  EXPECT_NEAR(s.One("/a", w.Mean(), 600.1).level, 10, 0.1);
}

TEST(LevelShaping, BadContactHoldsTheLevelAndKeepsItsValuesOut) {
  Stream s("/a 0 BS3V0 norm=window:60 range=5..60 warmup=0 hold-when=/contact<1 hold-when=/horseshoe>2\n");
  Noise noise;
  double lastPosted = 0;
  int held = 0;
  for (int i = 0; i < 900; ++i) {
    const double t = i * 0.1;
    if (i == 300) s.Contact("/contact", 0, t);
    if (i == 400) s.Contact("/contact", 1, t);
    // One sensor of two reads badly (4) for a while.
    if (i == 600) s.levels.Take(TranslateOscMessage(s.map, "/horseshoe", {{'f', 1, ""}, {'f', 4, ""}}), t);
    if (i == 700) s.levels.Take(TranslateOscMessage(s.map, "/horseshoe", {{'f', 1, ""}, {'f', 2, ""}}), t);
    const bool bad = (i >= 300 && i < 400) || (i >= 600 && i < 700);
    // Off the head the sender reads garbage a hundred times the baseline.
    const ShapedLevel l = s.One("/a", bad ? 1000 + noise() : 10 + noise(), t);
    if (bad) {
      ++held;
      ASSERT_EQ(l.fate, LevelFate::kHeld) << t;
      EXPECT_EQ(l.level, lastPosted);
    } else {
      ASSERT_EQ(l.fate, LevelFate::kPosted) << t;
      lastPosted = l.level;
    }
  }
  EXPECT_EQ(s.levels.Counts(0).held, held);
  EXPECT_LT(s.levels.Statistics(0)->Percentile(1), 20) << "held values were learnt from";
}

TEST(LevelShaping, NothingIsPostedUntilTheWarmupHasPassed) {
  for (double warmup : {0.0, 2.5, 10.0}) {
    Stream s("/a 0 BS3V0 norm=window:30 range=0..1 warmup=" + std::to_string(warmup) + "\n");
    const auto posted = Feed(s, 20, 0.1, [](double t) { return t; }, 100);
    ASSERT_FALSE(posted.empty());
    EXPECT_GE(posted.front().time, 100 + warmup - 1e-9) << warmup;
    EXPECT_LT(posted.front().time, 100 + warmup + 0.1) << warmup;
    EXPECT_EQ(s.levels.Counts(0).warming, static_cast<long long>(s.levels.Counts(0).values) -
                                              static_cast<long long>(posted.size()));
  }
  // After a silence longer than the window the rule warms up again.
  Stream s("/a 0 BS3V0 norm=window:5 range=0..1 warmup=1\n");
  Feed(s, 3, 0.1, [](double) { return 1; });
  EXPECT_EQ(s.One("/a", 1, 20).fate, LevelFate::kWarming);
  EXPECT_EQ(s.One("/a", 1, 21.1).fate, LevelFate::kPosted);
}

TEST(LevelShaping, SmoothingFollowsItsTimeConstant) {
  Stream s("/a 0 BS3V0 smooth=2\n");
  EXPECT_EQ(s.One("/a", 0, 0).level, 0);
  double level = 0;
  for (int i = 1; i <= 200; ++i) level = s.One("/a", 1, i * 0.01).level;
  EXPECT_NEAR(level, 1 - std::exp(-1.0), 1e-9);  // one time constant after the step
  level = s.One("/a", 1, 1000).level;
  EXPECT_NEAR(level, 1, 1e-12);
}

TEST(LevelShaping, RateLimitPostsTheLatestLevelWhenItsTurnComes) {
  Stream s("/a 0 BS3V0 rate=4\n");
  EXPECT_EQ(s.One("/a", 1, 0).fate, LevelFate::kPosted);
  EXPECT_EQ(s.One("/a", 2, 0.1).fate, LevelFate::kWaiting);
  EXPECT_EQ(s.One("/a", 3, 0.2).fate, LevelFate::kWaiting);
  EXPECT_TRUE(s.levels.Due(0.2499).empty());
  const auto due = s.levels.Due(0.25);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].level, 3);
  EXPECT_EQ(due[0].fate, LevelFate::kPosted);
  EXPECT_TRUE(s.levels.Due(10).empty());
  EXPECT_EQ(s.levels.Counts(0).replaced, 1);
  // A steady 100 values a second come out at 4 a second.
  const auto posted = Feed(s, 10, 0.01, [](double t) { return t; }, 20);
  EXPECT_NEAR(static_cast<double>(posted.size()), 40, 1);
}

TEST(LevelShaping, AnHourOfAFastSenderFitsInFixedMemory) {
  Stream s("/a 0 BS3V0 norm=window:60 range=5..60 spike=10 smooth=0.5 rate=20\n");
  s.levels.CollectCalibration(3600);
  Noise noise;
  const BridgeResult message = TranslateOscMessage(s.map, "/a", {{'f', 1, ""}});
  size_t afterAMinute = 0;
  constexpr double kRate = 64;
  for (long long i = 0; i < static_cast<long long>(3600 * kRate); ++i) {
    BridgeResult m = message;
    m.levels[0].level = 10 + noise() + (i % 300 == 150 ? 500 : 0);
    for (const ShapedLevel& l : s.levels.Take(m, static_cast<double>(i) / kRate))
      ASSERT_TRUE(l.fate != LevelFate::kPosted || (l.level >= 5 && l.level <= 60)) << l.level;
    if (i == static_cast<long long>(60 * kRate)) afterAMinute = s.levels.MemoryBytes();
  }
  EXPECT_EQ(s.levels.MemoryBytes(), afterAMinute);
  EXPECT_LE(s.levels.MemoryBytes(), (kNormWindowCapacity + kSpikeWindowCapacity + kCalibrationCapacity) * 24);
  EXPECT_LE(s.levels.Statistics(0)->Size(), kNormWindowCapacity);
  EXPECT_EQ(s.levels.Counts(0).values, static_cast<long long>(3600 * kRate));
  EXPECT_EQ(s.levels.Counts(0).dropped, static_cast<long long>(3600 * kRate) / 300);
}

// A calibration of the stream 10 + 5 sin(t) + noise over a minute.
Calibration Calibrate(const std::string& map) {
  Stream s(map);
  s.levels.CollectCalibration(60);
  Noise noise;
  Feed(s, 60, 0.1, [&](double t) { return 10 + 5 * std::sin(t) + 0.2 * noise(); });
  return s.levels.MakeCalibration();
}

TEST(Calibration, ASavedCalibrationStartsTheNextRunWhereItEnded) {
  const std::string map = "/a 0 BS3V0 norm=window:60 range=0..100 spike=8\n";
  const Calibration made = Calibrate(map);
  ASSERT_EQ(made.entries.size(), 1u);
  const CalibrationEntry& e = made.entries[0];
  EXPECT_EQ(e.values, 600);
  EXPECT_NEAR(e.median, 10, 0.5);
  EXPECT_NEAR(e.quantiles[1], 10 - 5 * std::cos(0.05 * std::numbers::pi), 0.5);  // the sine's 5th percentile

  const Calibration read = ParseCalibration(FormatCalibration(made), "c.txt");
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(read.entries[0].quantiles, e.quantiles) << "the file keeps every digit";

  // Two sessions, one from the calibration in memory and one from the file,
  // post the same levels from their first value on.
  Stream fromMemory(map), fromFile(map);
  std::vector<std::string> warnings;
  fromMemory.levels.UseCalibration({&e});
  fromFile.levels.UseCalibration(MatchCalibration(read, fromFile.map, "c.txt", &warnings));
  EXPECT_TRUE(warnings.empty());
  Noise noise;
  for (int i = 0; i < 300; ++i) {
    const double t = 500 + i * 0.1, v = 10 + 5 * std::sin(t) + 0.2 * noise();
    const ShapedLevel a = fromMemory.One("/a", v, t), b = fromFile.One("/a", v, t);
    ASSERT_EQ(a.fate, LevelFate::kPosted) << i;
    ASSERT_EQ(b.fate, LevelFate::kPosted) << i;
    ASSERT_EQ(a.level, b.level) << i;
  }
  // At once the levels sit where the baseline's percentiles put them.
  Stream fresh(map);
  fresh.levels.UseCalibration({&read.entries[0]});
  const double median = (e.quantiles[10] - e.quantiles[1]) / (e.quantiles[19] - e.quantiles[1]) * 100;
  EXPECT_NEAR(fresh.One("/a", e.quantiles[10], 0).level, median, 1);
  EXPECT_NEAR(fresh.One("/a", e.quantiles[1], 0.1).level, 0, 1);
  EXPECT_NEAR(fresh.One("/a", e.quantiles[19], 0.2).level, 100, 1);
  EXPECT_EQ(fresh.One("/a", 300, 0.3).fate, LevelFate::kDropped) << "the guard starts from the baseline too";
}

TEST(Calibration, EntriesMatchRulesByAddressArgumentAndSymbol) {
  const BridgeMap map = ParseBridgeMap("/a 0 BS1V0\n/a 1 BS1V0\n/a 0 BS2V0\n/a 0 BS1V0\n", "m.map");
  const std::string q = " values=3 seconds=1 mean=0 sd=0 median=0 mad=0 quantiles=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n";
  const Calibration c = ParseCalibration("qelvo-calibration 1\n/a 0 BS1V0" + q + "/a 0 BS2V0" + q + "/b 0 BS1V0" + q +
                                             "/a 0 BS1V0" + q,
                                         "c.txt");
  std::vector<std::string> warnings;
  const auto matched = MatchCalibration(c, map, "c.txt", &warnings);
  ASSERT_EQ(matched.size(), 4u);
  EXPECT_EQ(matched[0], &c.entries[0]);
  EXPECT_EQ(matched[1], nullptr);
  EXPECT_EQ(matched[2], &c.entries[1]);
  EXPECT_EQ(matched[3], &c.entries[3]) << "a repeated rule takes the next entry";
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("c.txt:4: no rule of the map reads /b 0 into BS1V0"), std::string::npos) << warnings[0];
}

TEST(Calibration, MistakesNameTheFileAndLine) {
  const std::string q = "quantiles=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20";
  const std::string fields = " values=3 seconds=1 mean=0 sd=1 median=0 mad=0 ";
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {"", "c.txt: empty; a calibration starts with 'qelvo-calibration 1'"},
      {"/a 0 BS1V0" + fields + q + "\n", "c.txt:1: expected the first line 'qelvo-calibration 1'"},
      {"qelvo-calibration 2\n", "c.txt:1: calibration version 2 is not known (known: 1)"},
      {"qelvo-calibration 1\n\n/a 0 BS1V0 values=3\n", "c.txt:3: missing seconds="},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + "\n", "c.txt:2: missing quantiles="},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + "quantiles=1,2\n", "c.txt:2: quantiles= wants 21 numbers"},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + q + ",21\n", "c.txt:2: quantiles= wants 21 numbers (0%, 5%, ..., 100%), got more"},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + "quantiles=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,nan\n",
       "c.txt:2: quantiles= wants 21 finite numbers"},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + "quantiles=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,20,19\n",
       "c.txt:2: quantiles= must not decrease: 19 comes after 20"},
      {"qelvo-calibration 1\n/a 0 BS1V0 values=0 seconds=1 mean=0 sd=1 median=0 mad=0 " + q + "\n",
       "c.txt:2: values= wants a whole number from 1"},
      {"qelvo-calibration 1\n/a 0 BS1V0 values=3 seconds=1 mean=0 sd=-1 median=0 mad=0 " + q + "\n",
       "c.txt:2: seconds=, sd= and mad= must not be negative"},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + q + " mean=2\n", "c.txt:2: mean= is given twice"},
      {"qelvo-calibration 1\n/a 0 BS1V0" + fields + q + " colour=red\n", "c.txt:2: unknown field 'colour=red' (known: values=N"},
      {"qelvo-calibration 1\n/a/* 0 BS1V0" + fields + q + "\n", "c.txt:2: '*' makes /a/* an OSC address pattern"},
  };
  for (const Case& c : cases)
    EXPECT_NE(ErrorOf([&] { ParseCalibration(c.text, "c.txt"); }).find(c.message), std::string::npos)
        << c.text << " gave: " << ErrorOf([&] { ParseCalibration(c.text, "c.txt"); });
}

TEST(BridgeMapShaping, OptionsAreReadIntoTheRule) {
  const BridgeMap map = ParseBridgeMap(
      "/a * BS3V0 norm=window:60 range=60..5 warmup=0 smooth=0.5 rate=10 spike=5 "
      "hold-when=/muse/elements/horseshoe>2 hold-when=/t>=0.5\n"
      "/b 1 BS4V0 z=30 range=-1..1 hold-when=/muse/elements/horseshoe>2 hold-when=/u<=3 hold-when=/v<1\n",
      "m.map");
  const LevelShaping& a = map.rules[0].shaping;
  EXPECT_EQ(a.norm, LevelShaping::Norm::kPercentiles);
  EXPECT_EQ(a.window, 60);
  EXPECT_EQ(a.low, 60);
  EXPECT_EQ(a.high, 5);
  EXPECT_EQ(a.warmup, 0);
  EXPECT_EQ(a.smooth, 0.5);
  EXPECT_EQ(a.rate, 10);
  EXPECT_EQ(a.spike, 5);
  const LevelShaping& b = map.rules[1].shaping;
  EXPECT_EQ(b.norm, LevelShaping::Norm::kZScore);
  EXPECT_EQ(b.warmup, 10) << "the default";
  // One condition per distinct text, shared between rules.
  ASSERT_EQ(map.conditions.size(), 4u);
  EXPECT_EQ(a.holdWhen, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(b.holdWhen, (std::vector<size_t>{0, 2, 3}));
  struct Case {
    size_t condition;
    double value;
    bool bad;
  } cases[] = {{0, 2, false}, {0, 2.5, true}, {1, 0.5, true}, {1, 0.4, false},
               {2, 3, true},  {2, 3.1, false}, {3, 0, true},   {3, 1, false}};
  for (const Case& c : cases) {
    const BridgeResult r = TranslateOscMessage(map, map.conditions[c.condition].address, {{'i', c.value, ""}});
    ASSERT_EQ(r.outcome, BridgeOutcome::kPosted);
    ASSERT_EQ(r.contact.size(), 1u);
    EXPECT_EQ(r.contact[0].bad, c.bad) << map.conditions[c.condition].text << " with " << c.value;
  }
  // Any one sensor of several decides; a string is no contact reading.
  EXPECT_TRUE(TranslateOscMessage(map, "/muse/elements/horseshoe", {{'f', 1, ""}, {'f', 4, ""}, {'f', 1, ""}}).contact[0].bad);
  const BridgeResult text = TranslateOscMessage(map, "/v", {{'s', 0, "on"}});
  EXPECT_EQ(text.outcome, BridgeOutcome::kRejected);
  EXPECT_NE(text.reason.find("expected only numbers for /v<1"), std::string::npos) << text.reason;
}

TEST(BridgeMapShaping, BadOptionsNameTheLine) {
  struct Case {
    const char* options;
    const char* message;
  } cases[] = {
      {"norm=window:0 range=0..1", "m.map:2: norm= wants a number of seconds above 0 to 86400, got '0'"},
      {"norm=window:-5 range=0..1", "m.map:2: norm= wants a number of seconds above 0"},
      {"z=0 range=0..1", "m.map:2: z= wants a number of seconds above 0"},
      {"z=-1 range=0..1", "m.map:2: z= wants a number of seconds above 0"},
      {"z=1e6 range=0..1", "m.map:2: z= wants a number of seconds above 0 to 86400, got '1e6'"},
      {"norm=60 range=0..1", "m.map:2: norm= wants window:SECONDS"},
      {"norm=window:x range=0..1", "m.map:2: norm= wants a number of seconds"},
      {"norm=window:5 z=5 range=0..1", "m.map:2: norm= and z= exclude each other"},
      {"norm=window:5", "m.map:2: norm= and z= need range=LOW..HIGH"},
      {"range=0..1", "m.map:2: range= needs norm=window:SECONDS or z=SECONDS"},
      {"z=5 range=1..1", "m.map:2: range= wants LOW..HIGH, two different finite numbers"},
      {"z=5 range=1-2", "m.map:2: range= wants LOW..HIGH"},
      {"z=5 range=..2", "m.map:2: range= wants LOW..HIGH"},
      {"z=5 range=0..1 warmup=-1", "m.map:2: warmup= wants a number of seconds from 0"},
      {"warmup=5", "m.map:2: warmup= applies to norm= and z= rules only"},
      {"smooth=0", "m.map:2: smooth= wants a number of seconds above 0"},
      {"rate=0", "m.map:2: rate= wants levels a second above 0 and at most 1000, got '0'"},
      {"rate=2000", "m.map:2: rate= wants levels a second above 0 and at most 1000"},
      {"spike=-2", "m.map:2: spike= wants a number of median absolute deviations above 0"},
      {"spike=nan", "m.map:2: spike= wants a number of median absolute deviations"},
      {"smooth=1 smooth=2", "m.map:2: smooth= is given twice"},
      {"hold-when=/muse/elements/horseshoe", "m.map:2: hold-when= wants ADDRESS>N"},
      {"hold-when=horseshoe>2", "m.map:2: hold-when=: an OSC address starts with '/'"},
      {"hold-when=/muse/*/horseshoe>2", "m.map:2: hold-when=: '*' makes /muse/*/horseshoe an OSC address pattern"},
      {"hold-when=/t>high", "m.map:2: hold-when= wants ADDRESS>N, ADDRESS<N, ADDRESS>=N or ADDRESS<=N"},
      {"norm=window", "m.map:2: norm= wants window:SECONDS"},
      {"loud", "m.map:2: unknown option 'loud' (known: scale=X, offset=Y, log, norm=window:SECONDS, z=SECONDS"},
  };
  for (const Case& c : cases) {
    const std::string text = "/ok 0 BS1V0\n/a 0 BS1V0 " + std::string(c.options) + "\n";
    EXPECT_NE(ErrorOf([&] { ParseBridgeMap(text, "m.map"); }).find(c.message), std::string::npos)
        << c.options << " gave: " << ErrorOf([&] { ParseBridgeMap(text, "m.map"); });
  }
}

TEST(LevelUserInfo, AnySymbolAndTheBridgesKeysSurviveTheRoundTrip) {
  const LevelDetail detail{0.25, "dropped"};
  for (const std::string symbol : {"BS7V0", "Bé7", "αβγ"}) {
    const DecodedLevel d = DecodeLevelUserInfo(MakeLevelUserInfo(symbol, 3.5, &detail).get());
    EXPECT_EQ(d.symbol, symbol);
    EXPECT_EQ(d.level, 3.5);
    EXPECT_EQ(d.raw, 0.25);
    EXPECT_EQ(d.fate, "dropped");
  }
  const DecodedLevel plain = DecodeLevelUserInfo(MakeLevelUserInfo("BS7V0", std::nullopt).get());
  EXPECT_FALSE(plain.level.has_value());
  EXPECT_FALSE(plain.raw.has_value());
  EXPECT_FALSE(plain.fate.has_value());
}

TEST(LevelTraces, AWatchOfAnyLengthKeepsBoundedTracesThatSpanIt) {
  LevelTraces traces;
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    traces.Add(i * 0.01, "BS3V0", 1.0, 2.0, i % 10 == 0 ? "dropped" : "posted");
    traces.Add(i * 0.01, "BS" + std::to_string(i % 9) + "V1", std::nullopt, 2.0, "");
  }
  ASSERT_EQ(traces.Traces().size(), kMaxTraceSymbols);
  EXPECT_EQ(traces.SymbolsLeftOut(), 9 + 1 - kMaxTraceSymbols);
  const LevelTrace& t = traces.Traces()[0];
  EXPECT_LE(t.points.size(), kMaxTracePoints);
  EXPECT_GE(t.points.size(), kMaxTracePoints / 4);
  EXPECT_EQ(t.points.front().time, 0);
  EXPECT_GT(t.points.back().time, (n - 1) * 0.01 - 0.2) << "the end of the watch is kept";
  EXPECT_EQ(t.points.front().fate, 'd');
  EXPECT_TRUE(std::isnan(traces.Traces()[1].points[0].raw)) << "a level from another sender has no raw value";
}

}  // namespace
