// A warmed-up effect renders without touching the heap: every operator new
// and, outside sanitizer builds, every malloc-family call in the process is
// counted across many render calls of a stereo effect fed by a render
// callback, with scheduled events, render observers coming and going, bypass
// and in-place changes, silence and moving filter parameters.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "effect/Filter.h"
#include "effect/ModulationState.h"
#include "support/HeapCounter.h"
#include "support/ParameterEvents.h"
#include "support/PrivateBusEnvironment.h"
#include "support/TestEffect.h"

namespace {

// The filter unit registers its level listener on the bus.
::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

struct Observer {
  int calls = 0;
  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32, AudioBufferList*) {
    ++static_cast<Observer*>(refCon)->calls;
    return noErr;
  }
};

AudioUnitParameterEvent Event(AudioUnitParameterID id, UInt32 type, UInt32 offset, float a,
                              float b = 0.0f, UInt32 duration = 0) {
  return type == kParameterEvent_Immediate ? ImmediateEvent(id, offset, a)
                                           : RampEvent(id, static_cast<SInt32>(offset), duration, a, b);
}

struct Scenario {
  const char* what;
  bool filterMode;
  bool events;
  bool observers;
  bool toggles;  // bypass, in place, silence, unit memory, slice length
};

void RenderMany(const Scenario& s, long& news, long& mallocs) {
  testX.store(s.filterMode ? 1 : 0);
  TestEffectPtr fx = OpenTestEffect(2, 2);
  fx->tailTime = 0.001;
  TestSignal signal;
  signal.Attach(*fx);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  TestOutput out(2, 512);
  Observer first, second;
  if (s.observers) {
    fx->SetRenderNotification(&Observer::Notify, &first);
    fx->SetRenderNotification(&Observer::Notify, &second);
  }
  const AudioUnitParameterEvent events[] = {
      Event(kParam_Gain, kParameterEvent_Immediate, 100, 0.5f),
      Event(kParam_CutoffFrequency, kParameterEvent_Ramped, 0, 400.0f, 4000.0f, 256),
      Event(kParam_Resonance, kParameterEvent_Immediate, 300, 3.0f),
      Event(kParam_Gain, kParameterEvent_Immediate, 450, 0.8f),
  };

  const int kWarmUp = 8, kCalls = 200;
  Float64 time = 0;
  for (int i = 0; i < kWarmUp + kCalls; ++i) {
    if (i == kWarmUp) {
      news = gNews.load();
      mallocs = gMallocs.load();
      gCounting = true;
    }
    UInt32 frames = 512;
    if (s.toggles) {
      frames = (i % 3 == 0) ? 64 : 512;
      const UInt32 bypass = (i % 5 == 1);
      const UInt32 inPlace = (i % 4 < 2);
      fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass, 4);
      fx->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &inPlace, 4);
      signal.silent = (i % 7 >= 4);
    }
    if (s.filterMode) fx->SetParameter(kParam_CutoffFrequency, 300.0f + 10.0f * (i % 50));
    if (s.events) fx->ScheduleParameter(events, 4);
    if (s.observers && i % 2 == 0) {
      // Observers come and go from the control side; nodes are recycled.
      fx->RemoveRenderNotification(&Observer::Notify, &second);
      fx->SetRenderNotification(&Observer::Notify, &second);
    }
    out.Point(frames);
    if (s.toggles && i % 2) out.NullPointers();
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status = fx->DoRender(flags, SampleTime(time), 0, frames, out.list());
    time += frames;
    if (status != noErr) {
      gCounting = false;
      FAIL() << "render " << i << " answered " << status;
    }
  }
  gCounting = false;
  news = gNews.load() - news;
  mallocs = gMallocs.load() - mallocs;
  if (s.observers) {
    EXPECT_EQ(first.calls, 2 * (kWarmUp + kCalls));
  }
  testX.store(0);
}

TEST(EffectRenderAllocations, NoneAfterWarmUp) {
  const Scenario scenarios[] = {
      {"gain mode", false, false, false, false},
      {"filter mode, cutoff moving", true, false, false, false},
      {"scheduled events", true, true, false, false},
      {"render observers", false, false, true, false},
      {"everything at once", true, true, true, true},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    long news = 0, mallocs = 0;
    RenderMany(s, news, mallocs);
    EXPECT_EQ(news, 0);
    EXPECT_EQ(mallocs, 0);
  }
}

// The filter unit's own pass over its channels (side by side in filter mode)
// with every channel count it groups differently, both modes, slices cut by
// events, in place or not. Only this
// thread counts: the notification centre's thread may allocate meanwhile.
TEST(EffectRenderAllocations, FilterUnitChannelsSideBySide) {
  CountOnlyThisThread();
  for (UInt32 channels : {2u, 3u, 6u, 9u}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    std::unique_ptr<Filter, TestUnitCloser> unit(new Filter(TestUnit::DefaultInstance()));
    unit->PostConstructor();
    const AudioStreamBasicDescription format = CanonicalTestFormat(channels);
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
      ASSERT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format), noErr);
    TestSignal signal;
    signal.Attach(*unit);
    ASSERT_EQ(unit->DoInitialize(), noErr);
    TestOutput out(channels, 512);
    const AudioUnitParameterEvent events[] = {Event(kParam_Resonance, kParameterEvent_Immediate, 200, 6.0f),
                                              Event(kParam_CutoffFrequency, kParameterEvent_Ramped, 0, 400.0f,
                                                    4000.0f, 300)};
    long news = 0, mallocs = 0;
    Float64 time = 0;
    for (int i = 0; i < 108; ++i) {
      if (i == 8) {
        news = gNews.load();
        mallocs = gMallocs.load();
        gCounting = true;
      }
      testX.store(i % 4 == 3 ? 0 : 1);
      const UInt32 inPlace = i % 2;
      unit->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &inPlace, 4);
      unit->SetParameter(kParam_CutoffFrequency, 300.0f + 10.0f * (i % 50));
      if (i % 5 == 0) unit->ScheduleParameter(events, 2);
      const UInt32 frames = i % 3 == 0 ? 61 : 512;
      out.Point(frames);
      AudioUnitRenderActionFlags flags = 0;
      const OSStatus status = unit->DoRender(flags, SampleTime(time), 0, frames, out.list());
      time += frames;
      if (status != noErr) {
        gCounting = false;
        FAIL() << "render " << i << " answered " << status;
      }
    }
    gCounting = false;
    EXPECT_EQ(gNews.load() - news, 0);
    EXPECT_EQ(gMallocs.load() - mallocs, 0);
  }
  testX.store(0);
  gOneThread.store(false);
}

// The counters see what they are meant to see, or a zero above proves nothing.
TEST(EffectRenderAllocations, CountersNoticeAllocations) {
  gCounting = true;
  const long news = gNews.load(), mallocs = gMallocs.load();
  delete new volatile int(3);
  void* volatile p = std::malloc(64);
  std::free(p);
  gCounting = false;
  EXPECT_EQ(gNews.load() - news, 1);
  EXPECT_GE(gMallocs.load() - mallocs, kCountsMalloc ? 2 : 0);
}

}  // namespace
