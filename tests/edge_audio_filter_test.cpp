// The filter's history at the audio boundary: a burst of NaN or infinity in
// the input, or a recursion run away while the cutoff jumps every few
// samples at 20 dB resonance, must not leave the channel broken for good.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/ModulationState.h"

namespace {

class Owner final : public AUKernelOwner {
 public:
  float cutoff = 1000.0f, resonance = 0.0f;
  Float64 GetSampleRate() override { return 44100.0; }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override {
    if (id == kParam_CutoffFrequency) return cutoff;
    if (id == kParam_Resonance) return resonance;
    return 1.0f;  // gain: keeps the mode the test sets
  }
};

class EdgeFilterHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    testX.store(1);
    cutoffX.store(1.0);
  }
  void TearDown() override {
    testX.store(0);
    cutoffX.store(1.0);
  }

  // Renders `in` in slices of `block` frames.
  static std::vector<float> Render(FilterKernel& kernel, const std::vector<float>& in, size_t block) {
    std::vector<float> out(in.size());
    bool silence = false;
    for (size_t at = 0; at < in.size(); at += block) {
      const auto frames = static_cast<unsigned>(std::min(block, in.size() - at));
      kernel.Process(in.data() + at, out.data() + at, frames, 1, silence);
    }
    return out;
  }

  Owner owner;
};

std::vector<float> Noise(size_t n, uint32_t seed, float amplitude) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> unit(-amplitude, amplitude);
  std::vector<float> v(n);
  for (float& s : v) s = unit(random);
  return v;
}

struct Burst {
  const char* name;
  float value;
  size_t length;
};

class EdgeFilterBurst : public EdgeFilterHistory, public ::testing::WithParamInterface<Burst> {};

// After the slice in which the burst ends, the channel renders exactly what a
// freshly reset kernel renders from there on.
TEST_P(EdgeFilterBurst, TheSliceAfterTheBurstStartsFromSilence) {
  const Burst b = GetParam();
  constexpr size_t kBlock = 64, kStart = 1000;
  owner.resonance = 12.0f;
  std::vector<float> in = Noise(8000, 3, 0.5f);
  for (size_t i = kStart; i < kStart + b.length; ++i) in[i] = b.value;
  FilterKernel kernel(owner);
  const std::vector<float> out = Render(kernel, in, kBlock);

  const size_t resume = (kStart + b.length + kBlock - 1) / kBlock * kBlock;
  FilterKernel fresh(owner);
  const std::vector<float> tail(in.begin() + static_cast<long>(resume), in.end());
  const std::vector<float> expected = Render(fresh, tail, kBlock);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(std::isfinite(out[resume + i])) << b.name << ": frame " << resume + i;
    ASSERT_EQ(out[resume + i], expected[i]) << b.name << ": frame " << resume + i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bursts, EdgeFilterBurst,
    ::testing::Values(Burst{"NaN10ms", std::numeric_limits<float>::quiet_NaN(), 441},
                      Burst{"OneNaN", std::numeric_limits<float>::quiet_NaN(), 1},
                      Burst{"PlusInfinity", std::numeric_limits<float>::infinity(), 100},
                      Burst{"MinusInfinity", -std::numeric_limits<float>::infinity(), 3},
                      // Finite, but far beyond any sound: +200 dB.
                      Burst{"Huge", 1e10f, 5}),
    [](const ::testing::TestParamInfo<Burst>& info) { return std::string(info.param.name); });

// One-frame slices, 20 dB resonance and a cutoff factor that jumps 2205
// times a second: the time-varying recursion runs away (to infinity and
// NaN without the history check). It must stay finite, and settle once the
// cutoff holds still.
TEST_F(EdgeFilterHistory, ARunAwayUnderFastCutoffMovesRecovers) {
  owner.cutoff = 20000.0f;
  owner.resonance = 20.0f;
  const std::vector<float> in = Noise(44100 * 2, 9, 0.5f);
  FilterKernel kernel(owner);
  std::mt19937 random(4);
  std::uniform_real_distribution<double> level(0.0, 200.0);
  std::vector<float> out(in.size());
  bool silence = false;
  double peak = 0.0;
  constexpr size_t kStill = 44100 * 3 / 2;  // the cutoff holds still from here on
  for (size_t i = 0; i < in.size(); ++i) {
    if (i < kStill && i % 20 == 0) setGainFrequencyBS(level(random) * 0.3);
    kernel.Process(&in[i], &out[i], 1, 1, silence);
    ASSERT_TRUE(std::isfinite(out[i])) << "frame " << i;
    peak = std::max(peak, std::fabs(static_cast<double>(out[i])));
  }
  // It did run away: far beyond what the filter makes of half-scale noise...
  EXPECT_GT(peak, 1e5);
  // ...but never far past the history limit, since each slice ends checked.
  EXPECT_LT(peak, FilterKernel::kMaxHistory * 10);
  // A quarter of a second after the cutoff stopped moving, the output is
  // the filtered noise again: at most the 20 dB peak times a margin.
  for (size_t i = kStill + 44100 / 4; i < out.size(); ++i) ASSERT_LT(std::fabs(out[i]), 50.0f) << "frame " << i;
}

}  // namespace
