// What a host may do from its control threads while an effect renders: set
// parameters, add and remove render observers, switch bypass and in-place
// processing, and read the properties meant for that. Run under
// ThreadSanitizer in CI, where any unsynchronised access fails the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "effect/ModulationState.h"
#include "support/ParameterEvents.h"
#include "support/TestEffect.h"

namespace {

struct Observer {
  std::atomic<long> calls{0};
  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32, AudioBufferList*) {
    static_cast<Observer*>(refCon)->calls.fetch_add(1, std::memory_order_relaxed);
    return noErr;
  }
};

AudioUnitParameterEvent RampCutoff(float from, float to) { return RampEvent(kParam_CutoffFrequency, 64, 128, from, to); }

class EffectRenderConcurrency : public ::testing::TestWithParam<int> {};

TEST_P(EffectRenderConcurrency, ControlCallsDuringRenders) {
  const bool filterMode = GetParam() == 1;
  testX.store(filterMode ? 1 : 0);
  TestEffectPtr fx = OpenTestEffect(2, 2);
  TestSignal signal;
  signal.Attach(*fx);
  ASSERT_EQ(fx->DoInitialize(), noErr);

  constexpr int kRenders = 3000;
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::atomic<int> nonFinite{0};
  Observer observer;

  std::thread render([&] {
    TestOutput out(2, 256);
    const AudioUnitParameterEvent ramp = RampCutoff(500.0f, 2000.0f);
    for (int i = 0; i < kRenders; ++i) {
      // Scheduling belongs to the render thread (or between renders).
      if (i % 3 == 0) fx->ScheduleParameter(&ramp, 1);
      out.Point(256);
      AudioUnitRenderActionFlags flags = 0;
      if (fx->DoRender(flags, SampleTime(256.0 * i), 0, 256, out.list()) != noErr) ++failures;
      for (const auto& channel : out.samples)
        for (float v : channel)
          if (!std::isfinite(v)) ++nonFinite;
    }
    done = true;
  });

  std::thread control([&] {
    unsigned i = 0;
    while (!done.load()) {
      ++i;
      fx->SetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0,
                       200.0f + float(i % 4000), 0);
      fx->SetParameter(kParam_Resonance, kAudioUnitScope_Global, 0, float(i % 40) - 20.0f, 0);
      fx->SetParameter(kParam_Gain, kAudioUnitScope_Global, 0, 0.5f + float(i % 3) * 0.25f, 0);

      const UInt32 bypass = (i / 7) % 2;
      const UInt32 inPlace = (i / 11) % 2;
      fx->DispatchSetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass,
                              sizeof(bypass));
      fx->DispatchSetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0,
                              &inPlace, sizeof(inPlace));

      if (i % 5 == 0) fx->SetRenderNotification(&Observer::Notify, &observer);
      if (i % 5 == 3) fx->RemoveRenderNotification(&Observer::Notify, &observer);

      UInt32 value = 0;
      fx->DispatchGetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &value);
      fx->DispatchGetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0,
                              &value);
      OSStatus lastError = 0;
      fx->DispatchGetProperty(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0,
                              &lastError);
      AudioUnitParameterValue parameter = 0;
      fx->GetParameter(kParam_Gain, kAudioUnitScope_Global, 0, parameter);
      // The level listener's side: modulation factors change underneath too.
      gainX.store(0.5f + float(i % 4) * 0.25f, std::memory_order_relaxed);
      cutoffX.store(0.2 + double(i % 8) * 0.1, std::memory_order_relaxed);
      std::this_thread::yield();
    }
  });

  render.join();
  control.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(nonFinite.load(), 0);
  testX.store(0);
  gainX.store(1.0f);
  cutoffX.store(1.0);
}

INSTANTIATE_TEST_SUITE_P(Modes, EffectRenderConcurrency, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "Filter" : "Gain"; });

}  // namespace
