// What the demo's pictures are drawn from: spectra and levels of a signal,
// and the factors and cutoffs a unit applied while rendering.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "DemoLevels.h"
#include "effect/FilterCoefficients.h"
#include "platform/ComponentLoader.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/DemoRender.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/Spectrogram.h"
#include "tools/qelvo/Synth.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::vector<float> Sine(double frequency, double amplitude, double rate, size_t frames) {
  std::vector<float> x(frames);
  for (size_t i = 0; i < frames; ++i)
    x[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
  return x;
}

TEST(Spectrogram, SinePeaksInItsBinAtItsLevel) {
  struct Case {
    int window;
    double binsUp;     // the sine's frequency, in bins
    double amplitude;
    double peakDb;     // a Hann window loses 0.35 dB a quarter of a bin off
  };
  const Case cases[] = {
      {2048, 93, 1.0, 0.0},          // the demo's window
      {2048, 93, 0.1, -20.0},
      {2048, 40.25, 1.0, -0.3515},
      {256, 10, 0.5, -6.0206},
      {1000, 25, 1.0, 0.0},          // not a power of two
  };
  const double rate = 44100;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "window " << c.window << ", bin " << c.binsUp);
    const std::vector<float> x = Sine(c.binsUp * rate / c.window, c.amplitude, rate, 10000);
    const Spectrogram s = ComputeSpectrogram(x, rate, c.window, c.window / 4);
    ASSERT_EQ(s.columns.size(), (10000 - c.window) / (c.window / 4) + 1u);
    for (const std::vector<float>& column : {s.columns.front(), s.columns.back()}) {
      ASSERT_EQ(column.size(), static_cast<size_t>(c.window / 2 + 1));
      const size_t peak = static_cast<size_t>(std::max_element(column.begin(), column.end()) - column.begin());
      EXPECT_EQ(peak, static_cast<size_t>(c.binsUp));
      EXPECT_NEAR(column[peak], c.peakDb, 0.01);
      // Far from the sine only the window's leakage is left.
      EXPECT_LT(column[peak + 10], c.peakDb - 60);
    }
  }
  EXPECT_TRUE(ComputeSpectrogram(std::vector<float>(100), rate, 256, 64).columns.empty());
}

TEST(Spectrogram, RefusesWindowsAndHopsThatCannotWork) {
  const std::vector<float> x(4096);
  for (auto [window, hop] : {std::pair{2048, 0}, std::pair{1, 1}}) {
    try {
      ComputeSpectrogram(x, 44100, window, hop);
      ADD_FAILURE() << window << " " << hop << " accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find("not " + std::to_string(window) + " and " + std::to_string(hop)),
                std::string::npos)
          << e.what();
    }
  }
}

TEST(LevelTrack, FollowsAGainStepWithTheWindowsAroundIt) {
  // Whole periods in every window, so each RMS is exact: amplitude 0.5 for
  // one second, then 1.0, then silence.
  const double rate = 8000;
  std::vector<float> x = Sine(100, 0.5, rate, 8000);
  const std::vector<float> loud = Sine(100, 1.0, rate, 8000);
  x.insert(x.end(), loud.begin(), loud.end());
  x.insert(x.end(), 8000, 0.0f);
  const LevelTrack t = ComputeLevelTrack(x, rate, 800, 200);
  ASSERT_EQ(t.times.size(), (24000 - 800) / 200 + 1u);
  const double quiet = 20 * std::log10(0.5 / std::sqrt(2.0)), full = 20 * std::log10(1.0 / std::sqrt(2.0));
  for (size_t i = 0; i < t.times.size(); ++i) {
    const double t0 = t.times[i] - 0.05, t1 = t.times[i] + 0.05;  // the window's span
    EXPECT_NEAR(t.times[i], (200.0 * i + 400) / rate, 1e-12);
    if (t1 <= 1.0) {
      EXPECT_NEAR(t.db[i], quiet, 1e-6) << i;
    } else if (t0 >= 1.0 && t1 <= 2.0) {
      EXPECT_NEAR(t.db[i], full, 1e-6) << i;
    } else if (t0 >= 2.0) {
      EXPECT_EQ(t.db[i], -200) << i;
    }
  }
  // The window centred on the step holds half of each.
  const size_t atStep = (8000 - 400) / 200;
  ASSERT_NEAR(t.times[atStep], 1.0, 1e-12);
  EXPECT_NEAR(t.db[atStep], 10 * std::log10((0.125 + 0.5) / 2), 1e-6);
}

// The value a step series holds at time t.
double ValueAt(const StepSeries& s, double t) {
  const auto after = std::upper_bound(s.times.begin(), s.times.end(), t + 1e-9);
  return after == s.times.begin() ? std::nan("") : s.values[static_cast<size_t>(after - s.times.begin() - 1)];
}

// The kernel's filter recursion, slice by slice, with the cutoff the
// picture says that slice was rendered with (resonance 0).
std::vector<float> FilterAsDrawn(const std::vector<float>& x, const StepSeries& cutoff, double rate, size_t block) {
  std::vector<float> y(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  const double narrowedRate = static_cast<float>(rate);
  for (size_t start = 0; start < x.size(); start += block) {
    const double hz = ValueAt(cutoff, static_cast<double>(start) / rate);
    const FilterCoefficients k = FilterCoefficients::Lopass((hz + hz) / narrowedRate, 0.0);
    for (size_t i = start; i < std::min(x.size(), start + block); ++i) {
      const double in = x[i];
      const float out = static_cast<float>(k.a0 * in + k.a1 * x1 + k.a2 * x2 - k.b1 * y1 - k.b2 * y2);
      x2 = x1, x1 = in, y2 = y1, y1 = out;
      y[i] = out;
    }
  }
  return y;
}

// Gain mode: input x Gain (1.0) x the factor drawn for the slice.
std::vector<float> GainAsDrawn(const std::vector<float>& x, const StepSeries& factor, double rate, size_t block) {
  std::vector<float> y(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const double start = static_cast<double>(i / block * block) / rate;
    y[i] = (x[i] * 1.0f) * static_cast<float>(ValueAt(factor, start));
  }
  return y;
}

class DiscardSink : public RenderSink {
 public:
  void Write(const float* const*, size_t frames) override { frames_ += frames; }
  size_t frames_ = 0;
};

TEST(DemoPicture, DrawsTheFactorsAndCutoffsTheUnitRenderedWith) {
  REQUIRE_BUNDLES();
  DetachFromBus();
  setenv(kQelvoPluginPathVariable, QELVO_TEST_PLUGIN_DIR, 1);
  setenv(kQelvoPluginPathOnlyVariable, "1", 1);
  const double rate = 44100;
  const UInt32 block = 512;
  const std::vector<LevelEvent> levels = ParseLevelCsv(kDemoLevelsText, kDemoLevelsName);
  const std::vector<std::vector<float>> input = SynthesizeDemoInput(rate, 20, 2);

  for (const int preset : {1, 0}) {
    SCOPED_TRACE(testing::Message() << "preset " << preset);
    DiscardSink sink;
    const PictureRender r = RenderForPicture({"AUQelvoBS7", preset, rate, block}, input, levels, sink);
    const RenderPicture& p = r.picture;
    EXPECT_EQ(sink.frames_, input[0].size());
    ASSERT_EQ(r.left.size(), input[0].size());
    EXPECT_EQ(p.level.values.size(), 200u);
    ASSERT_FALSE(p.factor.values.empty());
    const std::vector<float> drawn = preset == 1 ? FilterAsDrawn(input[0], p.appliedCutoff, rate, block)
                                                 : GainAsDrawn(input[0], p.factor, rate, block);
    double worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i < drawn.size(); ++i)
      if (std::abs(drawn[i] - r.left[i]) > worst) worst = std::abs(drawn[i] - r.left[i]), worstAt = i;
    EXPECT_LT(worst, 1e-6) << "at " << static_cast<double>(worstAt) / rate << " s";

    if (preset == 1) {
      // The cutoff is 1000 Hz x (factor + 0.1) where it is drawn, and the
      // session sweeps it from a few hundred hertz to about 3 kHz.
      for (double t : {0.0, 5.0, 10.0, 19.9})
        EXPECT_NEAR(ValueAt(p.appliedCutoff, t), 1000 * (ValueAt(p.factor, t) + 0.1), 1e-6) << t;
      const auto [lo, hi] = std::minmax_element(p.appliedCutoff.values.begin(), p.appliedCutoff.values.end());
      EXPECT_LT(*lo, 400);
      EXPECT_GT(*hi, 2500);
      // The band's curves are the unit's own at those cutoffs: 0 dB there.
      ASSERT_GE(p.appliedResponses.size(), 2u);
      EXPECT_EQ(p.appliedResponses.front().cutoff, *lo);
      EXPECT_EQ(p.appliedResponses.back().cutoff, *hi);
      for (const ResponseCurve& c : {p.appliedResponses.front(), p.appliedResponses.back()}) {
        const auto near = std::lower_bound(c.frequencies.begin(), c.frequencies.end(), c.cutoff);
        EXPECT_NEAR(c.magnitudes[static_cast<size_t>(near - c.frequencies.begin())], 1.0, 0.03) << c.cutoff;
      }
      EXPECT_EQ(p.response.cutoff, 1000);
      EXPECT_TRUE(p.outputLevel.times.empty());
    } else {
      EXPECT_TRUE(p.appliedCutoff.values.empty());
      EXPECT_TRUE(p.appliedResponses.empty());
      EXPECT_FALSE(p.outputLevel.times.empty());
      EXPECT_EQ(p.outputLevel.times.size(), p.inputLevel.times.size());
    }
  }
}

}  // namespace
