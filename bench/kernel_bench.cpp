// Cost of one channel's render call, next to hand-written loops of exactly the
// same arithmetic built with the same flags. Reported per sample of 512-frame
// calls.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "effect/FilterChannels.h"
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/ModulationState.h"

namespace {

constexpr unsigned kFrames = 512;

class BenchOwner final : public AUKernelOwner {
 public:
  float params[3] = {1000.0f, 6.0f, 0.8f};
  Float64 GetSampleRate() override { return 44100.0; }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override { return params[id]; }
};

std::vector<float> Noise() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(kFrames);
  for (float& s : v) s = dist(rng);
  return v;
}

// Seconds per sample, printed with an SI prefix ("3.6n" is 3.6 ns).
void PerSample(benchmark::State& state) {
  state.counters["per_sample"] = benchmark::Counter(
      kFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- the kernel ---------------------------------------------------------------

void RunKernel(benchmark::State& state, int32_t mode, bool moveCutoff) {
  BenchOwner owner;
  testX.store(mode);
  cutoffX.store(1.0);
  gainX.store(0.9f);
  FilterKernel kernel(owner);
  const std::vector<float> in = Noise();
  std::vector<float> out(kFrames);
  bool silence = false;
  float cutoffs[2] = {1000.0f, 1010.0f};
  unsigned call = 0;
  for (auto _ : state) {
    if (moveCutoff) owner.params[kParam_CutoffFrequency] = cutoffs[++call & 1];
    kernel.Process(in.data(), out.data(), kFrames, 1, silence);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  PerSample(state);
  testX.store(0);
}

void BM_KernelFilter(benchmark::State& state) { RunKernel(state, 1, false); }
void BM_KernelFilterCutoffMovesEveryCall(benchmark::State& state) { RunKernel(state, 1, true); }
void BM_KernelGain(benchmark::State& state) { RunKernel(state, 0, false); }

// ---- the same arithmetic by hand ------------------------------------------------

struct History {
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

[[gnu::noinline]] void HandFilter(const FilterCoefficients& c, History& h, const float* source,
                                  float* destination, unsigned frames) {
  const double a0 = c.a0, a1 = c.a1, a2 = c.a2, b1 = c.b1, b2 = c.b2;
  double x1 = h.x1, x2 = h.x2, y1 = h.y1, y2 = h.y2;
  for (unsigned i = 0; i < frames; ++i) {
    const double x = source[i];
    const float y = static_cast<float>(a0 * x + a1 * x1 + a2 * x2 - b1 * y1 - b2 * y2);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    destination[i] = y;
  }
  h = {x1, x2, y1, y2};
}

[[gnu::noinline]] void HandGain(float gain, const float* source, float* destination,
                                unsigned frames, unsigned stride) {
  for (size_t i = 0, at = 0; i < frames; ++i, at += stride) {
    destination[at] = (source[at] * gain) * gainX.load(std::memory_order_relaxed);
  }
}

void BM_HandFilter(benchmark::State& state) {
  const FilterCoefficients c = FilterCoefficients::Lopass(2200.0 / 44100.0, 6.0);
  History h;
  const std::vector<float> in = Noise();
  std::vector<float> out(kFrames);
  for (auto _ : state) {
    HandFilter(c, h, in.data(), out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  PerSample(state);
}

void BM_HandGain(benchmark::State& state) {
  gainX.store(0.9f);
  const std::vector<float> in = Noise();
  std::vector<float> out(kFrames);
  // Runtime values, as the kernel sees them, so nothing is specialised.
  unsigned frames = kFrames, stride = 1;
  float gain = 0.8f;
  benchmark::DoNotOptimize(frames);
  benchmark::DoNotOptimize(stride);
  benchmark::DoNotOptimize(gain);
  for (auto _ : state) {
    HandGain(gain, in.data(), out.data(), frames, stride);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  PerSample(state);
}

// ---- several channels side by side ---------------------------------------------

// The effect's filter pass over `channels` channels of 512 frames, each with
// its own kernel, in place. Reported per channel sample, to read against
// BM_HandFilter (one channel's recursion alone).
void BM_SideBySideFilter(benchmark::State& state) {
  const auto channels = static_cast<size_t>(state.range(0));
  BenchOwner owner;
  std::vector<std::unique_ptr<FilterKernel>> kernels;
  std::vector<std::vector<float>> samples(channels, Noise());
  std::vector<FilterChannel> pass;
  for (size_t c = 0; c < channels; ++c) {
    kernels.push_back(std::make_unique<FilterKernel>(owner));
    pass.push_back({kernels.back().get(), samples[c].data(), samples[c].data()});
  }
  const FilterKernel::Settings settings = kernels[0]->ReadSettings();
  for (auto _ : state) {
    FilterSideBySide(pass.data(), channels, kFrames, settings);
    benchmark::ClobberMemory();
  }
  state.counters["per_ch_sample"] = benchmark::Counter(
      static_cast<double>(kFrames * channels),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// What a cutoff change adds to a call.
void BM_CoefficientDesign(benchmark::State& state) {
  double cutoff = 0.05;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cutoff);
    benchmark::DoNotOptimize(FilterCoefficients::Lopass(cutoff, 6.0));
  }
}

}  // namespace

BENCHMARK(BM_KernelFilter);
BENCHMARK(BM_HandFilter);
BENCHMARK(BM_SideBySideFilter)->ArgName("channels")->DenseRange(2, 8, 1)->Arg(16);
BENCHMARK(BM_KernelGain);
BENCHMARK(BM_HandGain);
BENCHMARK(BM_KernelFilterCutoffMovesEveryCall);
BENCHMARK(BM_CoefficientDesign);

BENCHMARK_MAIN();
