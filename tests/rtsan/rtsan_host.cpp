// Renders a stereo effect fed by a host render callback from a function the
// real-time sanitizer treats as real-time: scheduled events, render
// observers, bypass and in-place changes, silence and moving parameters are
// all exercised. Then the filter unit itself, whose own pass runs its
// channels side by side, with two and with six channels. Exits 0 when every render succeeded; the sanitizer aborts
// the process on any allocation, lock or blocking call inside a render.
//
// `rtsan_host --canary` allocates inside the real-time function on purpose
// and must be killed by the sanitizer, which shows the check is armed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "RealtimeCanary.h"
#include "effect/Filter.h"
#include "effect/ModulationState.h"
#include "support/ParameterEvents.h"
#include "support/TestEffect.h"

namespace {

struct Observer {
  long calls = 0;
  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32, AudioBufferList*) {
    ++static_cast<Observer*>(refCon)->calls;
    return noErr;
  }
};

// The host's render thread: schedule this call's events, render one slice.
OSStatus RenderCall(AUBase& fx, const AudioUnitParameterEvent* events, UInt32 eventCount,
                    Float64 sampleTime, UInt32 frames, AudioBufferList& out) [[clang::nonblocking]] {
  if (eventCount) fx.ScheduleParameter(events, eventCount);
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp ts{};
  ts.mSampleTime = sampleTime;
  ts.mFlags = kAudioTimeStampSampleTimeValid;
  return fx.DoRender(flags, ts, 0, frames, out);
}

AudioUnitParameterEvent Event(AudioUnitParameterID id, UInt32 type, UInt32 offset, float a,
                              float b = 0.0f, UInt32 duration = 0) {
  return type == kParameterEvent_Immediate ? ImmediateEvent(id, offset, a)
                                           : RampEvent(id, static_cast<SInt32>(offset), duration, a, b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--canary") == 0) {
    std::printf("canary: allocating inside a real-time function\n");
    return rtsan_canary::Canary() == 1 ? 0 : 1;
  }

  TestEffectPtr fx = OpenTestEffect(2, 2);
  fx->tailTime = 0.001;
  fx->SetParamHasSampleRateDependency(true);
  TestSignal signal;
  signal.Attach(*fx);
  if (fx->DoInitialize() != noErr) {
    std::fprintf(stderr, "initialize failed\n");
    return 1;
  }
  Observer observer;
  fx->SetRenderNotification(&Observer::Notify, &observer);

  const AudioUnitParameterEvent events[] = {
      Event(kParam_Gain, kParameterEvent_Immediate, 100, 0.5f),
      Event(kParam_CutoffFrequency, kParameterEvent_Ramped, 0, 400.0f, 4000.0f, 256),
      Event(kParam_Resonance, kParameterEvent_Immediate, 300, 3.0f),
      Event(kParam_Gain, kParameterEvent_Immediate, 450, 0.8f),
  };

  TestOutput out(2, 512);
  Float64 time = 0;
  int failures = 0;
  const int kCalls = 2000;
  for (int i = 0; i < kCalls; ++i) {
    // Control side, between renders: mode, bypass, in-place, observers.
    testX.store((i / 50) % 2);
    const UInt32 bypass = (i % 9 == 4);
    const UInt32 inPlace = (i % 4 < 2);
    fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass, 4);
    fx->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &inPlace, 4);
    fx->SetParameter(kParam_CutoffFrequency, 300.0f + 10.0f * (i % 50));
    if (i % 10 == 0) fx->RemoveRenderNotification(&Observer::Notify, &observer);
    if (i % 10 == 5) fx->SetRenderNotification(&Observer::Notify, &observer);
    signal.silent = (i % 7 >= 4);

    const UInt32 frames = (i % 3 == 0) ? 64 : 512;
    out.Point(frames);
    if (i % 2) out.NullPointers();
    const UInt32 eventCount = (i % 5 == 0) ? 0 : 4;
    if (RenderCall(*fx, events, eventCount, time, frames, out.list()) != noErr) ++failures;
    time += frames;
  }
  testX.store(0);
  std::printf("%d render calls, %d failed, %ld observer calls\n", kCalls, failures, observer.calls);

  // The filter registers its level listener; keep the centre off any bus.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  int filterFailures = 0;
  for (UInt32 channels : {2u, 6u}) {
    std::unique_ptr<Filter, TestUnitCloser> unit(new Filter(TestUnit::DefaultInstance()));
    unit->PostConstructor();
    const AudioStreamBasicDescription format = CanonicalTestFormat(channels);
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
      unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format);
    TestSignal filterSignal;
    filterSignal.Attach(*unit);
    if (unit->DoInitialize() != noErr) {
      std::fprintf(stderr, "filter initialize failed\n");
      return 1;
    }
    TestOutput filterOut(channels, 512);
    for (int i = 0; i < 400; ++i) {
      testX.store((i / 20) % 2);
      const UInt32 inPlace = i % 2;
      unit->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &inPlace, 4);
      unit->SetParameter(kParam_CutoffFrequency, 300.0f + 10.0f * (i % 50));
      const UInt32 frames = (i % 3 == 0) ? 61 : 512;
      filterOut.Point(frames);
      const UInt32 eventCount = (i % 5 == 0) ? 2 : 0;
      if (RenderCall(*unit, events, eventCount, time, frames, filterOut.list()) != noErr) ++filterFailures;
      time += frames;
    }
  }
  testX.store(0);
  std::printf("filter unit: 800 render calls, %d failed\n", filterFailures);
  return failures == 0 && filterFailures == 0 && observer.calls > 0 ? 0 : 1;
}
