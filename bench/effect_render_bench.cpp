// The cost of the framework around the kernels: a whole render call of a
// stereo effect (DoRender, observers list, output bus, pull through a host
// render callback, in-place processing, the effect base's kernel loop) next
// to the bare kernels run over the same samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/ModulationState.h"
#include "support/TestEffect.h"
#include "utility/CAFloatingPointMode.h"

namespace {

constexpr UInt32 kChannels = 2;

// Host samples, made once; the callback copies them in as a host would.
struct HostSignal {
  explicit HostSignal(UInt32 frames) : samples(kChannels, std::vector<float>(frames)) {
    for (UInt32 c = 0; c < kChannels; ++c)
      for (UInt32 i = 0; i < frames; ++i)
        samples[c][i] = static_cast<float>(0.5 * std::sin(0.01 * i + c));
  }

  static OSStatus Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList* list) {
    auto& self = *static_cast<HostSignal*>(refCon);
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b)
      std::memcpy(list->mBuffers[b].mData, self.samples[b].data(), frames * sizeof(float));
    return noErr;
  }

  std::vector<std::vector<float>> samples;
};

// Mode argument: 0 gain mode, 1 filter mode.
void SetMode(const benchmark::State& state) { testX.store(static_cast<int32_t>(state.range(1))); }

void RenderLoop(benchmark::State& state, UInt32 eventCount) {
  const UInt32 frames = static_cast<UInt32>(state.range(0));
  SetMode(state);
  TestEffectPtr fx = OpenTestEffect(kChannels, kChannels);
  HostSignal signal(frames);
  fx->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &HostSignal::Render, &signal);
  if (fx->DoInitialize() != noErr) {
    state.SkipWithError("initialize failed");
    return;
  }
  TestOutput out(kChannels, frames);

  // Events evenly inside the call, alternating the gain between two values.
  std::vector<AudioUnitParameterEvent> events(eventCount);
  for (UInt32 e = 0; e < eventCount; ++e) {
    AudioUnitParameterEvent& ev = events[e];
    ev = {};
    ev.scope = kAudioUnitScope_Global;
    ev.parameter = kParam_Gain;
    ev.eventType = kParameterEvent_Immediate;
    ev.eventValues.immediate.bufferOffset = frames * (e + 1) / (eventCount + 1);
    ev.eventValues.immediate.value = (e % 2) ? 1.0f : 0.9f;
  }

  Float64 time = 0;
  for (auto _ : state) {
    if (eventCount) fx->ScheduleParameter(events.data(), eventCount);
    out.Point(frames);
    AudioUnitRenderActionFlags flags = 0;
    benchmark::DoNotOptimize(fx->DoRender(flags, SampleTime(time), 0, frames, out.list()));
    benchmark::ClobberMemory();
    time += frames;
  }
  state.SetItemsProcessed(state.iterations() * frames * kChannels);
  testX.store(0);
}

void BM_EffectRender(benchmark::State& state) { RenderLoop(state, 0); }
void BM_EffectRenderFourEvents(benchmark::State& state) { RenderLoop(state, 4); }

// The kernels alone over the same samples, each channel from the host's
// samples into an output buffer, under the same floating-point mode.
void BM_BareKernels(benchmark::State& state) {
  const UInt32 frames = static_cast<UInt32>(state.range(0));
  SetMode(state);
  struct Owner final : AUKernelOwner {
    Float64 GetSampleRate() override { return 44100.0; }
    AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override {
      return id == kParam_CutoffFrequency ? kDefaultCutoff
             : id == kParam_Resonance     ? kDefaultResonance
                                          : kDefaultValue_Gain;
    }
  } owner;
  FilterKernel kernels[kChannels] = {FilterKernel(owner), FilterKernel(owner)};
  HostSignal signal(frames);
  std::vector<std::vector<float>> out(kChannels, std::vector<float>(frames));
  CADenormalsAreZeroScope denormalsAreZero;
  for (auto _ : state) {
    for (UInt32 c = 0; c < kChannels; ++c) {
      bool silence = false;
      kernels[c].Process(signal.samples[c].data(), out[c].data(), frames, 1, silence);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames * kChannels);
  testX.store(0);
}

// What the host's callback itself costs inside BM_EffectRender: copying its
// samples into the input buffers.
void BM_HostCallbackCopy(benchmark::State& state) {
  const UInt32 frames = static_cast<UInt32>(state.range(0));
  HostSignal signal(frames);
  std::vector<std::vector<float>> in(kChannels, std::vector<float>(frames));
  std::vector<AudioBufferList> storage(AudioBufferListSize(kChannels) / sizeof(AudioBufferList) + 1);
  AudioBufferList& list = storage[0];
  list.mNumberBuffers = kChannels;
  for (UInt32 c = 0; c < kChannels; ++c)
    list.mBuffers[c] = {1, static_cast<UInt32>(frames * sizeof(float)), in[c].data()};
  for (auto _ : state) {
    AudioUnitRenderActionFlags flags = 0;
    HostSignal::Render(&signal, &flags, nullptr, 0, frames, &list);
    benchmark::ClobberMemory();
  }
}

void Args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"frames", "filter"});
  for (int mode : {0, 1})
    for (int frames : {512, 64}) b->Args({frames, mode});
}

}  // namespace

BENCHMARK(BM_EffectRender)->Apply(Args);
BENCHMARK(BM_BareKernels)->Apply(Args);
BENCHMARK(BM_HostCallbackCopy)->Arg(512)->Arg(64)->ArgName("frames");
BENCHMARK(BM_EffectRenderFourEvents)->Args({512, 0})->Args({512, 1})->ArgNames({"frames", "filter"});

BENCHMARK_MAIN();
