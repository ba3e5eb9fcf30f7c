#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/ModulationState.h"

namespace {

class FakeOwner final : public AUKernelOwner {
 public:
  Float64 sampleRate = 44100.0;
  float cutoff = 1000.0f, resonance = 0.0f, gain = 1.0f;

  Float64 GetSampleRate() override { return sampleRate; }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override {
    switch (id) {
      case kParam_CutoffFrequency: return cutoff;
      case kParam_Resonance: return resonance;
      case kParam_Gain: return gain;
    }
    throw OSStatus(kAudioUnitErr_InvalidParameter);
  }
};

// The modulation state is process-wide; every test starts from the values a
// freshly constructed unit leaves and puts them back afterwards.
class FilterKernelTest : public ::testing::Test {
 protected:
  void SetUp() override { SetModulation(1, 1.0, 1.0f); }
  void TearDown() override { SetModulation(0, 1.0, 1.0f); }

  static void SetModulation(int32_t mode, double cutoffFactor, float gainFactor) {
    testX.store(mode);
    cutoffX.store(cutoffFactor);
    gainX.store(gainFactor);
  }

  std::vector<float> Run(FilterKernel& kernel, const std::vector<float>& in,
                         unsigned stride = 1) {
    std::vector<float> out(in.size(), -7.0f);
    // The effect's silence judgement must come back as it went in, whichever
    // it was; alternate it between calls.
    static bool flip = false;
    flip = !flip;
    bool silence = flip;
    kernel.Process(in.data(), out.data(), unsigned(in.size() / stride), stride, silence);
    EXPECT_EQ(silence, flip);
    return out;
  }

  static void ExpectSameCoefficients(const FilterCoefficients& got,
                                     const FilterCoefficients& want) {
    EXPECT_EQ(got.a0, want.a0);
    EXPECT_EQ(got.a1, want.a1);
    EXPECT_EQ(got.a2, want.a2);
    EXPECT_EQ(got.b1, want.b1);
    EXPECT_EQ(got.b2, want.b2);
  }

  FakeOwner owner;
};

std::vector<float> Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& s : v) s = dist(rng);
  return v;
}

TEST(FilterCoefficientsTest, KnownDesigns) {
  const FilterCoefficients half = FilterCoefficients::Lopass(0.5, 0.0);
  EXPECT_EQ(half.a0, 1.0 / 3.0);
  EXPECT_EQ(half.a1, 2.0 / 3.0);
  EXPECT_EQ(half.a2, 1.0 / 3.0);
  EXPECT_NEAR(half.b1, -8.16e-17, 0.01e-17);
  EXPECT_EQ(half.b2, 1.0 / 3.0);
  EXPECT_EQ(half.Response(0.0, 44100.0), 1.0);
  EXPECT_NEAR(half.Response(44100.0 / 4, 44100.0), 1.0, 1e-15);

  const FilterCoefficients c = FilterCoefficients::Lopass(0.049886621315192746, 0.0);
  EXPECT_EQ(c.a0, 0.005684384000734066);
  EXPECT_EQ(c.b1, -1.8324789134119437);
  EXPECT_EQ(c.b2, 0.85521644941488);
}

TEST(FilterCoefficientsTest, ResponseAtCutoffFollowsResonance) {
  const struct {
    double resonance, magnitude, tolerance;
  } cases[] = {
      {0.0, 1.0, 0.0}, {20.0, 10.0, 1e-12}, {-20.0, 0.1, 1e-13}, {12.0, 3.981071705534972, 1e-12}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.resonance);
    const FilterCoefficients c = FilterCoefficients::Lopass(0.049886621315192746, tc.resonance);
    EXPECT_NEAR(c.Response(1100.0, 44100.0), tc.magnitude, tc.tolerance);
    EXPECT_NEAR(c.Response(0.0, 44100.0), 1.0, 1e-12);
  }
}

TEST(FilterCoefficientsTest, ResponseNarrowsTheRateTo32Bits) {
  const FilterCoefficients c = FilterCoefficients::Lopass(0.2, 6.0);
  EXPECT_EQ(c.Response(3000.0, 48000.3), c.Response(3000.0, 48000.30078125));
  EXPECT_NE(c.Response(3000.0, 48000.3), c.Response(3000.0, 48001.0));
}

TEST_F(FilterKernelTest, RenderDesignsForTheModulatedNormalisedCutoff) {
  FilterKernel kernel(owner);
  Run(kernel, Noise(16, 1));
  const FilterCoefficients& c = kernel.Coefficients();
  EXPECT_EQ(c.a0, 0.005684384000734066);
  EXPECT_EQ(c.b1, -1.8324789134119437);
  EXPECT_EQ(c.b2, 0.85521644941488);
  EXPECT_EQ(kernel.GetFrequencyResponse(1100.0), 1.0);

  owner.resonance = 20.0f;
  Run(kernel, Noise(16, 2));
  EXPECT_NEAR(kernel.GetFrequencyResponse(1100.0), 10.0, 1e-12);
  owner.resonance = -20.0f;
  Run(kernel, Noise(16, 3));
  EXPECT_NEAR(kernel.GetFrequencyResponse(1100.0), 0.1, 1e-13);
}

TEST_F(FilterKernelTest, CutoffAndResonanceLimits) {
  const struct {
    const char* what;
    double sampleRate, cutoffFactor;
    float cutoff, resonance;
    double normalised, designResonance;
  } cases[] = {
      {"level 0 scales by a tenth", 44100.0, 0.0, 1000.0f, 0.0f, 200.0 / 44100.0, 0.0},
      {"not below 12 Hz", 44100.0, 0.0, 100.0f, 0.0f, 24.0 / 44100.0, 0.0},
      {"negative factor hits 12 Hz", 44100.0, -0.8333333333333334, 1000.0f, 3.0f,
       24.0 / 44100.0, 3.0},
      {"not above 0.99", 44100.0, 1.0, 30000.0f, 0.0f, 0.99, 0.0},
      {"resonance above 20 dB", 44100.0, 1.0, 1000.0f, 35.0f, 0.049886621315192746, 20.0},
      {"resonance below -20 dB", 44100.0, 1.0, 1000.0f, -50.0f, 0.049886621315192746, -20.0},
      {"rate narrowed to 32 bits", 48000.3, 1.0, 1000.0f, 0.0f, 0.045833046130814445, 0.0},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    owner.sampleRate = tc.sampleRate;
    owner.cutoff = tc.cutoff;
    owner.resonance = tc.resonance;
    cutoffX.store(tc.cutoffFactor);
    FilterKernel kernel(owner);
    Run(kernel, Noise(8, 4));
    ExpectSameCoefficients(kernel.Coefficients(),
                           FilterCoefficients::Lopass(tc.normalised, tc.designResonance));
  }
}

// The coefficients are replaced by a marker design that rendering would never
// produce; a later render keeps the marker exactly when it did not recompute.
TEST_F(FilterKernelTest, CoefficientsRecomputedOnlyWhenTheDesignChanges) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* what;
    float initialCutoff;
    void (*change)(FakeOwner&, FilterKernel&);
    bool recomputes;
  } cases[] = {
      {"nothing changed", 1000.0f, [](FakeOwner&, FilterKernel&) {}, false},
      {"gain changed", 1000.0f, [](FakeOwner& o, FilterKernel&) { o.gain = 0.5f; }, false},
      {"gain factor changed", 1000.0f, [](FakeOwner&, FilterKernel&) { gainX.store(0.3f); }, false},
      {"cutoff changed", 1000.0f, [](FakeOwner& o, FilterKernel&) { o.cutoff = 1001.0f; }, true},
      {"cutoff factor changed", 1000.0f, [](FakeOwner&, FilterKernel&) { cutoffX.store(1.5); }, true},
      {"resonance changed", 1000.0f, [](FakeOwner& o, FilterKernel&) { o.resonance = 1.0f; }, true},
      {"sample rate changed", 1000.0f, [](FakeOwner& o, FilterKernel&) { o.sampleRate = 48000.0; }, true},
      {"clamped cutoff moved within the clamp", 30000.0f,
       [](FakeOwner& o, FilterKernel&) { o.cutoff = 40000.0f; }, false},
      {"reset", 1000.0f, [](FakeOwner&, FilterKernel& k) { k.Reset(); }, true},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    SetUp();
    owner = FakeOwner();
    owner.cutoff = tc.initialCutoff;
    FilterKernel kernel(owner);
    Run(kernel, Noise(32, 5));
    kernel.CalculateLopassParams(0.3, 5.0);
    const FilterCoefficients marker = kernel.Coefficients();
    tc.change(owner, kernel);
    Run(kernel, Noise(32, 6));
    const bool kept = kernel.Coefficients().a0 == marker.a0 && kernel.Coefficients().b1 == marker.b1;
    EXPECT_EQ(!kept, tc.recomputes);
  }

  // A NaN never equals what it was designed for, so it redesigns every call.
  SetUp();
  owner = FakeOwner();
  owner.cutoff = nan;
  FilterKernel kernel(owner);
  Run(kernel, Noise(8, 7));
  kernel.CalculateLopassParams(0.3, 5.0);
  Run(kernel, Noise(8, 8));
  EXPECT_TRUE(std::isnan(kernel.Coefficients().a0));
}

TEST_F(FilterKernelTest, GainMode) {
  SetModulation(0, 1.0, 2.0f);
  FilterKernel kernel(owner);
  const std::vector<float> in = {0.25f, -0.5f, 1.5f, 3.0e-39f, -1.0f, 4.0f};

  // Doubles the signal, no limiting.
  std::vector<float> out = Run(kernel, in);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], in[i] * 2.0f) << i;

  // Order of the two products matters in 32-bit arithmetic.
  owner.gain = 0.1f;
  gainX.store(0.3f);
  out = Run(kernel, in);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], (in[i] * 0.1f) * 0.3f) << i;

  // Interleaved: one channel every `stride` samples, the others untouched.
  out = Run(kernel, in, 2);
  for (size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(out[i], i % 2 == 0 ? (in[i] * 0.1f) * 0.3f : -7.0f) << i;
  }

  // In place.
  std::vector<float> buffer = in;
  bool silence = false;
  kernel.Process(buffer.data(), buffer.data(), unsigned(buffer.size()), 1, silence);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(buffer[i], (in[i] * 0.1f) * 0.3f) << i;
  EXPECT_EQ(testX.load(), 0);
}

TEST_F(FilterKernelTest, LowGainSwitchesThisCallToFilterMode) {
  const struct {
    float gain;
    bool filters;
  } cases[] = {{0.005f, true}, {0.0f, true}, {-1.0f, true},
               // 0.01 as a 32-bit float is just below 0.01.
               {0.01f, true},
               {std::nextafter(0.01f, 1.0f), false},
               {1.0f, false}};
  const std::vector<float> in = Noise(64, 9);
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.gain);
    SetModulation(0, 1.0, 1.0f);
    owner.gain = tc.gain;
    FilterKernel kernel(owner);
    const std::vector<float> out = Run(kernel, in);
    EXPECT_EQ(testX.load(), tc.filters ? 1 : 0);

    FilterKernel reference(owner);
    testX.store(1);
    const std::vector<float> filtered = Run(reference, in);
    EXPECT_EQ(out == filtered, tc.filters);
  }
}

TEST_F(FilterKernelTest, FilterModeWalksConsecutiveSamplesWhateverTheStride) {
  const std::vector<float> in = Noise(128, 10);
  FilterKernel a(owner), b(owner);
  const std::vector<float> consecutive = Run(a, in);
  std::vector<float> out(in.size(), -7.0f);
  bool silence = true;
  b.Process(in.data(), out.data(), unsigned(in.size()), 2, silence);
  EXPECT_EQ(out, consecutive);
}

TEST_F(FilterKernelTest, ResetClearsHistoryButKeepsRunningAfterward) {
  std::vector<float> impulse(256, 0.0f);
  impulse[0] = 1.0f;

  FilterKernel fresh(owner);
  const std::vector<float> expected = Run(fresh, impulse);

  FilterKernel used(owner);
  Run(used, Noise(500, 12));
  used.Reset();
  EXPECT_EQ(Run(used, impulse), expected);

  // Zero frames is a no-op that leaves the history alone.
  Run(used, {});
  FilterKernel split(owner);
  std::vector<float> first(impulse.begin(), impulse.begin() + 100);
  std::vector<float> rest(impulse.begin() + 100, impulse.end());
  std::vector<float> joined = Run(split, first);
  Run(split, {});
  const std::vector<float> tail = Run(split, rest);
  joined.insert(joined.end(), tail.begin(), tail.end());
  EXPECT_EQ(joined, expected);
}

// An independent statement of the render path, used as the oracle.
struct ReferenceChannel {
  double a0 = 0, a1 = 0, a2 = 0, b1 = 0, b2 = 0;
  double xm1 = 0, xm2 = 0, ym1 = 0, ym2 = 0;

  void Design(const FakeOwner& o, double factor) {
    double fc = double(o.cutoff) * (factor + 0.1);
    fc = std::max(fc, 12.0);
    const double q = std::min(std::max(double(o.resonance), -20.0), 20.0);
    const double rate = float(o.sampleRate);
    const double w = std::min((fc + fc) / rate, 0.99);
    const double pi = 3.141592653589793;
    const double r = std::pow(10.0, -0.05 * q);
    const double k = (r * 0.5) * std::sin(pi * w);
    const double c1 = ((1.0 - k) * 0.5) / (1.0 + k);
    const double c2 = (c1 + 0.5) * std::cos(pi * w);
    const double c3 = 0.25 * ((0.5 + c1) - c2);
    a0 = c3 * 2;
    a1 = c3 * 4;
    a2 = c3 * 2;
    b1 = c2 * -2;
    b2 = c1 * 2;
  }

  float Step(float in) {
    const double x = in;
    double acc = a0 * x;
    acc = acc + a1 * xm1;
    acc = acc + a2 * xm2;
    acc = acc - b1 * ym1;
    acc = acc - b2 * ym2;
    const float y = float(acc);
    xm2 = xm1;
    xm1 = x;
    ym2 = ym1;
    ym1 = double(y);
    return y;
  }
};

TEST_F(FilterKernelTest, MatchesReferenceBitForBitAcrossChangesAndModeSwitches) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> cutoffs(5.0f, 26000.0f), resonances(-30.0f, 30.0f);
  std::uniform_real_distribution<double> factors(-0.5, 3.0);
  std::uniform_int_distribution<int> lengths(0, 300), coin(0, 5);
  const double rates[] = {44100.0, 48000.0, 96000.0, 22050.0, 44099.7};

  for (double rate : rates) {
    SCOPED_TRACE(rate);
    owner = FakeOwner();
    owner.sampleRate = rate;
    SetModulation(1, 1.0, 1.0f);
    FilterKernel kernel(owner);
    ReferenceChannel ref;

    const std::vector<float> input = Noise(4000, uint32_t(rate));
    size_t at = 0;
    while (at < input.size()) {
      const size_t n = std::min<size_t>(lengths(rng), input.size() - at);
      if (coin(rng) == 0) owner.cutoff = cutoffs(rng);
      if (coin(rng) == 0) owner.resonance = resonances(rng);
      if (coin(rng) == 0) cutoffX.store(factors(rng));
      const bool gainMode = coin(rng) == 0;
      testX.store(gainMode ? 0 : 1);
      gainX.store(float(factors(rng)));

      std::vector<float> in(input.begin() + at, input.begin() + at + n), out(n);
      bool silence = false;
      kernel.Process(in.data(), out.data(), unsigned(n), 1, silence);

      if (!gainMode) ref.Design(owner, cutoffX.load());
      for (size_t i = 0; i < n; ++i) {
        const float want = gainMode ? (in[i] * owner.gain) * gainX.load() : ref.Step(in[i]);
        ASSERT_EQ(std::bit_cast<uint32_t>(out[i]), std::bit_cast<uint32_t>(want))
            << "sample " << at + i << ": " << out[i] << " vs " << want;
      }
      at += n;
    }
  }
}

}  // namespace
