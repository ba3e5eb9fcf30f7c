// Renders through the built program and the built bundles, compared sample
// for sample with a computation of the effect's arithmetic written here from
// its description: gain mode bit for bit, filter mode by a double-precision
// recursion narrowed to float exactly where the unit narrows.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

constexpr int kRate = 44100;

struct TestLevel {
  double time;
  const char* symbol;
  double level;
};

struct Family {
  const char* plugin;
  int preset;
  const char* symbol;  // the measure the preset follows
  double scale;
  bool filterMode;
  float cutoff, resonance, gain;  // parameters set on the command line
  int channels;
};

// A level of the followed measure at t = 0 and one mid-file, with others in
// between that the unit must not follow.
std::vector<TestLevel> LevelsFor(const Family& f) {
  return {{0.0, f.symbol, 20.0}, {0.2, "BS5V1", 90.0}, {0.2, "peakRV", 70.0}, {0.5, f.symbol, 40.0}, {0.7, "BS7F4", 1.0}};
}

std::string Csv(const std::vector<TestLevel>& levels) {
  std::string text = "# generated\ntime_s,symbol,level\n";
  for (const TestLevel& l : levels) text += std::to_string(l.time) + "," + l.symbol + "," + std::to_string(l.level) + "\n";
  return text;
}

struct Coefficients {
  double a0, a1, a2, b1, b2;
};

Coefficients Lopass(double cutoff, double resonance) {
  const double pi = std::numbers::pi;
  const double r = std::pow(10.0, -0.05 * resonance);
  const double k = (r * 0.5) * std::sin(pi * cutoff);
  const double c1 = ((1.0 - k) * 0.5) / (1.0 + k);
  const double c2 = (c1 + 0.5) * std::cos(pi * cutoff);
  const double c3 = 0.25 * ((0.5 + c1) - c2);
  return {2 * c3, 4 * c3, 2 * c3, -2 * c2, 2 * c1};
}

// What the unit should produce: factors start at 1.0, each level of the
// followed measure takes effect from the slice holding its frame.
Planar Reference(const Planar& in, const Family& f, const std::vector<TestLevel>& levels, size_t block) {
  // The unit renders with denormals flushed; so does the reference.
  const unsigned csr = _mm_getcsr();
  _mm_setcsr(csr | 0x8040);
  Planar out = in;
  float gainX = 1.0f;
  double cutoffX = 1.0;
  size_t next = 0;
  for (size_t c = 0; c < in.size(); ++c) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    gainX = 1.0f;
    cutoffX = 1.0;
    next = 0;
    for (size_t start = 0; start < in[c].size(); start += block) {
      const size_t end = std::min(start + block, in[c].size());
      for (; next < levels.size() && static_cast<size_t>(std::floor(levels[next].time * kRate + 1e-6)) < end; ++next) {
        if (std::string(levels[next].symbol) != f.symbol) continue;
        const double scaled = levels[next].level * f.scale;
        gainX = static_cast<float>(scaled) / 10.0f;
        if (gainX > 2.0f) gainX = 2.0f;
        cutoffX = static_cast<double>(static_cast<float>(scaled)) / 6.0;
        if (cutoffX > 10.0) cutoffX = 10.0;
      }
      if (!f.filterMode) {
        for (size_t i = start; i < end; ++i) out[c][i] = (in[c][i] * f.gain) * gainX;
        continue;
      }
      double cutoff = static_cast<double>(f.cutoff) * (cutoffX + 0.1);
      if (12.0 > cutoff) cutoff = 12.0;
      double resonance = std::clamp(static_cast<double>(f.resonance), -20.0, 20.0);
      double normalised = (cutoff + cutoff) / static_cast<double>(static_cast<float>(kRate));
      if (normalised > 0.99) normalised = 0.99;
      const Coefficients k = Lopass(normalised, resonance);
      for (size_t i = start; i < end; ++i) {
        const double x = in[c][i];
        const float y = static_cast<float>(k.a0 * x + k.a1 * x1 + k.a2 * x2 - k.b1 * y1 - k.b2 * y2);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out[c][i] = y;
      }
    }
  }
  _mm_setcsr(csr);
  return out;
}

std::vector<std::string> RenderArgs(const Family& f, const std::string& levels, const std::string& in,
                                    const std::string& out, size_t block) {
  return {kQelvo,
          "render",
          "--plugin",
          f.plugin,
          "--preset",
          std::to_string(f.preset),
          "--param",
          "cutoff=" + std::to_string(f.cutoff),
          "--param",
          "resonance=" + std::to_string(f.resonance),
          "--param",
          "gain=" + std::to_string(f.gain),
          "--levels",
          levels,
          "--block",
          std::to_string(block),
          in,
          out};
}

// The first frame where two renders differ, or -1.
long FirstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

class RenderFamilies : public ::testing::TestWithParam<Family> {};

TEST_P(RenderFamilies, OutputEqualsTheReferenceComputation) {
  REQUIRE_BUNDLES();
  const Family& f = GetParam();
  ScratchDir dir;
  const Planar input = TestSignal(f.channels, kRate, 7);
  WriteAudio(dir.File("in.wav"), input, kRate);
  const std::vector<TestLevel> levels = LevelsFor(f);
  WriteText(dir.File("levels.csv"), Csv(levels));

  const ToolResult r = RunTool(RenderArgs(f, dir.File("levels.csv"), dir.File("in.wav"), dir.File("out.wav"), 512));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 levels applied (2 for " + std::string(f.symbol) + ")"), std::string::npos) << r.out;
  const AudioFileContents out = ReadAudio(dir.File("out.wav"));
  EXPECT_EQ(out.rate, kRate);
  EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const Planar expected = Reference(input, f, levels, 512);
  ASSERT_EQ(out.channels.size(), expected.size());
  for (size_t c = 0; c < expected.size(); ++c)
    EXPECT_EQ(FirstDifference(out.channels[c], expected[c]), -1) << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFamily, RenderFamilies,
    ::testing::Values(Family{"AUQelvoBS7", 0, "BS7V0", 0.3, false, 1000, 0, 0.5f, 2},
                      Family{"AUQelvoBS7", 3, "BS7F0", 0.15, true, 800, 6, 1, 2},
                      Family{"AUQelvoBS2", 8, "BS2V4", 0.3, false, 1000, 0, 1, 1},
                      Family{"AUQelvoBS8", 11, "BS8F4", 0.15, true, 3000, -12, 1, 3},
                      Family{"AUQelvoBS1", 5, "BS1V1", 0.3, true, 200, 20, 1, 2},
                      Family{"AUQelvoPeakLeft", 0, "peakLV", 1.0, false, 1000, 0, 1, 2},
                      Family{"AUQelvoPeakRight", 3, "peakRF", 0.15, true, 1000, 3, 1, 2}),
    [](const ::testing::TestParamInfo<Family>& info) {
      return std::string(info.param.plugin).substr(7) + "_preset" + std::to_string(info.param.preset);
    });

TEST(RenderTiming, ALevelActsFromTheSliceHoldingItsFrameAndNotBefore) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Family f{"AUQelvoBS7", 0, "BS7V0", 0.3, false, 1000, 0, 1, 1};
  const Planar input = TestSignal(1, kRate, 3);
  WriteAudio(dir.File("in.wav"), input, kRate);
  // Only the level at 0.5 s (frame 22050): before its slice the gain stays 1.
  WriteText(dir.File("levels.csv"), "time_s,symbol,level\n0.5,BS7V0,10\n");
  struct Case {
    size_t block;
    long sliceStart;  // of the slice that holds frame 22050
  } cases[] = {{512, 22016}, {1000, 22000}, {11025, 22050}, {4096, 20480}, {1, 22050}};
  for (const Case& c : cases) {
    const ToolResult r = RunTool(RenderArgs(f, dir.File("levels.csv"), dir.File("in.wav"), dir.File("out.wav"), c.block));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> got = ReadAudio(dir.File("out.wav")).channels[0];
    EXPECT_EQ(FirstDifference(got, input[0]), c.sliceStart) << "block " << c.block;
    for (size_t i = static_cast<size_t>(c.sliceStart); i < got.size(); ++i)
      ASSERT_EQ(got[i], input[0][i] * 1.0f * 0.3f) << "block " << c.block << " frame " << i;
  }
}

TEST(RenderRepeatability, TheSameRenderTwiceGivesTheSameBytes) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const Family f{"AUQelvoBS7", 1, "BS7V0", 0.3, true, 1000, 10, 1, 2};
  WriteAudio(dir.File("in.wav"), TestSignal(2, kRate / 2, 11), kRate);
  WriteText(dir.File("levels.csv"), Csv(LevelsFor(f)));
  for (const char* out : {"a.wav", "b.wav"}) {
    const ToolResult r = RunTool(RenderArgs(f, dir.File("levels.csv"), dir.File("in.wav"), dir.File(out), 256));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const std::string a = ReadBytes(dir.File("a.wav"));
  EXPECT_GT(a.size(), 44u + kRate / 2 * 8);
  EXPECT_EQ(a, ReadBytes(dir.File("b.wav")));
}

TEST(RenderFormats, OutputKeepsTheInputsFormatUnlessAnotherIsChosen) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in16.wav"), TestSignal(2, 4000, 5), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const std::vector<std::string> base = {kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0"};
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(args);
  };
  ToolResult r = run({dir.File("in16.wav"), dir.File("same.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  const AudioFileContents same = ReadAudio(dir.File("same.wav"));
  EXPECT_EQ(same.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(same.rate, 48000);
  // Gain mode with no level passes 16-bit samples through unchanged.
  EXPECT_EQ(ReadAudio(dir.File("in16.wav")).channels, same.channels);

  r = run({"--format", "flac-24", dir.File("in16.wav"), dir.File("out.flac")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAudio(dir.File("out.flac")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

}  // namespace
