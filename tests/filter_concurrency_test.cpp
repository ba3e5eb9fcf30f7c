// The editor view asks for the frequency-response curve on a control thread
// while the kernels render: the curve must be computed without touching what
// the render thread uses.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "effect/Filter.h"
#include "effect/FilterConstants.h"
#include "effect/ModulationState.h"
#include "support/PrivateBusEnvironment.h"
#include "support/TestUnit.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

TEST(FilterConcurrency, CurveRequestsWhileTheKernelsRender) {
  std::unique_ptr<Filter, TestUnitCloser> unit(new Filter(TestUnit::DefaultInstance()));
  unit->PostConstructor();
  const AudioStreamBasicDescription format = CanonicalTestFormat(2, 44100.0);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
    ASSERT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format), noErr);
  ASSERT_EQ(unit->DoInitialize(), noErr);
  testX.store(1);  // filter mode: the kernels design coefficients as they go

  std::atomic<bool> stop{false};
  std::atomic<int> renders{0};
  std::thread render([&] {
    std::vector<float> in(256, 0.5f), out(256);
    bool silence = false;
    while (!stop.load(std::memory_order_relaxed)) {
      for (UInt32 channel = 0; channel < 2; ++channel)
        unit->GetKernel(channel)->Process(in.data(), out.data(), 256, 1, silence);
      renders.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (renders.load() == 0) std::this_thread::yield();

  std::vector<FrequencyResponsePoint> points(kFrequencyResponsePointCount);
  for (UInt32 i = 0; i < kFrequencyResponsePointCount; ++i) points[i].frequency = 20.0 + 40.0 * i;
  for (int request = 0; request < 300; ++request) {
    const Float32 cutoff = 200.0f + 50.0f * static_cast<Float32>(request % 40);
    ASSERT_EQ(unit->SetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0, cutoff, 0), noErr);
    ASSERT_EQ(unit->DispatchGetProperty(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 0, points.data()),
              noErr);
    // Unit gain far below the cutoff, whatever the kernels are doing.
    ASSERT_NEAR(points[0].magnitude, 1.0, 0.05);
    // Let the render thread run between requests.
    for (const int seen = renders.load(); renders.load() == seen;) std::this_thread::yield();
  }
  stop.store(true);
  render.join();
}

}  // namespace
