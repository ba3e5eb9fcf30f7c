// The render path of a unit: checks, floating-point mode, observers, output
// buffers, repeated time stamps, the render error, and scheduled parameters
// cut into slices.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/ParameterEvents.h"
#include "support/TestUnit.h"
#include "utility/CAFloatingPointMode.h"

// ---- allocation counting --------------------------------------------------------
// Counts operator new on the thread that asks for it, to show that a steady
// render allocates nothing.
namespace {
thread_local bool tCountAllocations = false;
thread_local long tAllocations = 0;
}  // namespace

// Out of line, so the compiler never pairs the malloc and free it sees.
__attribute__((noinline)) void* operator new(std::size_t size) {
  if (tCountAllocations) ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr AudioUnitParameterValue kUntouched = -12345.0f;
constexpr int kTracked = 4;  // parameters 0..3 of the global element are watched per slice

struct SliceRecord {
  UInt32 start;
  UInt32 frames;
  UInt32 total;
  // Per tracked parameter: stored event type, value, start offset, slice duration.
  std::array<UInt32, kTracked> type;
  std::array<AudioUnitParameterValue, kTracked> value;
  std::array<SInt32, kTracked> offset;
  std::array<UInt32, kTracked> sliceDuration;
  bool Written(int p) const { return type[p] == kParameterEvent_Ramped || value[p] != kUntouched; }
};

// A unit whose render does what a test asks: answer a status, throw, set
// flags, fill its output, and run scheduled parameters through slices.
class RenderUnit : public TestUnit {
 public:
  using TestUnit::TestUnit;

  OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp&,
                  UInt32 nFrames) override {
    ++renderCalls;
    csrDuringRender = GETCSR();
    volatile float tiny = 1e-30f;
    volatile float small = 1e-10f;
    productDuringRender = tiny * small;  // 1e-40 is a denormal result
    volatile float denormal = 1e-40f;
    volatile float two = 2.0f;
    denormalInputDuringRender = denormal * two;  // read as zero
    ioActionFlags |= flagsToSet;
    if (fillValue) Fill(nFrames);
    if (throwStatus != noErr) throw OSStatus(throwStatus);
    if (throwOther) throw std::runtime_error("render failed");
    if (!GetParamEventList().empty()) {
      const OSStatus status = ProcessForScheduledParams(GetParamEventList(), nFrames, this);
      if (status != noErr) return status;
    }
    return renderResult;
  }

  OSStatus ProcessScheduledSlice(void* userData, UInt32 start, UInt32 frames,
                                 UInt32 total) override {
    EXPECT_EQ(userData, this);
    if (sliceCount < slices.size()) {
      SliceRecord& r = slices[sliceCount];
      r.start = start;
      r.frames = frames;
      r.total = total;
      for (int p = 0; p < kTracked; ++p) {
        const ParameterMapEvent& e = Globals()->GetParamEvent(p);
        r.type[p] = e.GetEventType();
        r.value[p] = e.GetValue();
        r.offset[p] = e.GetStartOffset();
        r.sliceDuration[p] = e.GetSliceDuration();
        // Marks the parameter so the next slice shows whether it was written again.
        Globals()->SetParameter(p, kUntouched);
      }
    }
    ++sliceCount;
    return sliceCount == failSlice ? sliceFailure : noErr;
  }

  // Writes sample value fillValue + channel into every frame of the output.
  void Fill(UInt32 nFrames) {
    AudioBufferList& abl = GetOutput(0)->GetBufferList();
    for (UInt32 b = 0; b < abl.mNumberBuffers; ++b) {
      auto* samples = static_cast<Float32*>(abl.mBuffers[b].mData);
      for (UInt32 i = 0; i < nFrames; ++i) samples[i] = fillValue + static_cast<Float32>(b);
    }
  }

  void TrackParameters() {
    for (int p = 0; p < kTracked; ++p) Globals()->SetParameter(p, kUntouched);
  }

  int renderCalls = 0;
  int csrDuringRender = 0;
  float productDuringRender = 1.0f;
  float denormalInputDuringRender = 1.0f;
  AudioUnitRenderActionFlags flagsToSet = 0;
  Float32 fillValue = 0.0f;
  OSStatus renderResult = noErr;
  OSStatus throwStatus = noErr;
  bool throwOther = false;

  std::array<SliceRecord, 16> slices{};
  size_t sliceCount = 0;
  size_t failSlice = 0;  // 1-based slice that answers sliceFailure; 0: none
  OSStatus sliceFailure = noErr;
};

using RenderUnitPtr = std::unique_ptr<RenderUnit, TestUnitCloser>;

RenderUnitPtr OpenRenderUnit(UInt32 outputs = 1, bool initialize = true) {
  RenderUnitPtr unit(new RenderUnit(1, outputs));
  unit->PostConstructor();
  unit->TrackParameters();
  if (initialize) {
    EXPECT_EQ(unit->DoInitialize(), noErr);
  }
  return unit;
}

// A caller's buffer list of n buffers; with data, each buffer owns frames samples.
class CallerList {
 public:
  CallerList(UInt32 n, UInt32 frames, bool withData) : mStorage(n + 1), mSamples(n) {
    list().mNumberBuffers = n;
    for (UInt32 i = 0; i < n; ++i) {
      mSamples[i].assign(frames, -1.0f);
      list().mBuffers[i] = {1, frames * 4, withData ? mSamples[i].data() : nullptr};
    }
  }
  AudioBufferList& list() { return *reinterpret_cast<AudioBufferList*>(mStorage.data()); }
  Float32* Samples(UInt32 i) { return mSamples[i].data(); }

 private:
  std::vector<AudioBuffer> mStorage;
  std::vector<std::vector<Float32>> mSamples;
};

AudioTimeStamp At(Float64 sampleTime) {
  AudioTimeStamp ts{};
  ts.mSampleTime = sampleTime;
  ts.mFlags = kAudioTimeStampSampleTimeValid;
  return ts;
}

OSStatus RenderAt(AUBase& unit, Float64 sampleTime, UInt32 frames = 512,
                  AudioUnitRenderActionFlags flags = 0) {
  CallerList caller(2, frames, false);
  return unit.DoRender(flags, At(sampleTime), 0, frames, caller.list());
}

struct Notices {
  static void Count(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope scope,
                    AudioUnitElement element) {
    auto* n = static_cast<Notices*>(refCon);
    ++n->count;
    n->scope = scope;
    n->element = element;
  }
  int count = 0;
  AudioUnitScope scope = 99;
  AudioUnitElement element = 99;
};

// Render observers record every call's flags and arguments.
struct ObserverLog {
  struct Call {
    AudioUnitRenderActionFlags flags;
    Float64 sampleTime;
    UInt32 bus;
    UInt32 frames;
    AudioBufferList* ioData;
  };
  static OSStatus Observe(void* refCon, AudioUnitRenderActionFlags* flags,
                          const AudioTimeStamp* ts, UInt32 bus, UInt32 frames,
                          AudioBufferList* ioData) {
    auto* log = static_cast<ObserverLog*>(refCon);
    if (log->count < log->calls.size())
      log->calls[log->count] = {*flags, ts->mSampleTime, bus, frames, ioData};
    ++log->count;
    *flags |= 0x40000000u;  // must not reach the caller or the next phase
    return -1;              // ignored
  }
  std::array<Call, 8> calls{};
  size_t count = 0;
};

}  // namespace

// ---- checks and the floating-point mode ------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<OSStatus(RenderUnit&)> run;  // configures the unit and renders once
  OSStatus expected;
  bool rendered;          // whether the unit's Render ran
  size_t observerCalls;  // a thrown status stops the observers
};

class RenderFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RenderFailure, RecordsStatusAndRestoresControlRegister) {
  const FailureCase& c = GetParam();
  RenderUnitPtr unit = OpenRenderUnit();
  Notices notices;
  unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, &Notices::Count, &notices);
  ObserverLog log;
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &log), noErr);

  // A distinctive register value: an exception flag raised and rounding toward zero.
  const int before = 0x1F80 | 0x6000 | 0x1;
  const int saved = GETCSR();
  SETCSR(before);
  const OSStatus status = c.run(*unit);
  const int after = GETCSR();
  SETCSR(saved);

  EXPECT_EQ(status, c.expected);
  EXPECT_EQ(after, before);
  EXPECT_EQ(unit->GetLastRenderError(), c.expected);
  EXPECT_EQ(notices.count, 1);
  EXPECT_EQ(notices.scope, kAudioUnitScope_Global);
  EXPECT_EQ(notices.element, 0u);
  EXPECT_EQ(unit->renderCalls, c.rendered ? 1 : 0);
  if (c.rendered) {
    EXPECT_EQ(unit->csrDuringRender, before | 0x8040);
  }
  EXPECT_EQ(log.count, c.observerCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RenderFailure,
    ::testing::Values(
        FailureCase{"Uninitialized",
                    [](RenderUnit& u) {
                      u.DoCleanup();
                      return RenderAt(u, 0);
                    },
                    kAudioUnitErr_Uninitialized, false, 0},
        FailureCase{"OneFrameTooMany",
                    [](RenderUnit& u) { return RenderAt(u, 0, u.GetMaxFramesPerSlice() + 1); },
                    kAudioUnitErr_TooManyFramesToProcess, false, 0},
        FailureCase{"BufferCountDiffers",
                    [](RenderUnit& u) {
                      CallerList one(1, 512, false);
                      AudioUnitRenderActionFlags f = 0;
                      return u.DoRender(f, At(0), 0, 512, one.list());
                    },
                    paramErr, false, 0},
        FailureCase{"MissingBus",
                    [](RenderUnit& u) {
                      CallerList two(2, 512, false);
                      AudioUnitRenderActionFlags f = 0;
                      return u.DoRender(f, At(0), 1, 512, two.list());
                    },
                    kAudioUnitErr_InvalidElement, false, 0},
        FailureCase{"RenderReturnsStatus",
                    [](RenderUnit& u) {
                      u.renderResult = -4242;
                      return RenderAt(u, 0);
                    },
                    -4242, true, 2},
        FailureCase{"RenderThrowsStatus",
                    [](RenderUnit& u) {
                      u.throwStatus = -777;
                      return RenderAt(u, 0);
                    },
                    -777, true, 1},
        FailureCase{"ScheduledEventWithInvalidScope",
                    [](RenderUnit& u) {
                      u.GetParamEventList().push_back(ImmediateEvent(0, 0, 1.0f, 5));
                      return RenderAt(u, 0);
                    },
                    kAudioUnitErr_InvalidScope, true, 1},
        FailureCase{"ScheduledEventOutsideIndexedParameters",
                    [](RenderUnit& u) {
                      u.Outputs().GetElement(0)->UseIndexedParameters(2);
                      u.GetParamEventList().push_back(
                          ImmediateEvent(7, 0, 1.0f, kAudioUnitScope_Output, 0));
                      return RenderAt(u, 0);
                    },
                    kAudioUnitErr_InvalidParameter, true, 1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(RenderChecks, ExactlyTheMaximumFramesRenders) {
  RenderUnitPtr unit = OpenRenderUnit();
  EXPECT_EQ(RenderAt(*unit, 0, unit->GetMaxFramesPerSlice()), noErr);
  EXPECT_EQ(unit->renderCalls, 1);
  EXPECT_EQ(unit->GetLastRenderError(), noErr);
}

TEST(RenderChecks, ControlRegisterRestoredAfterSuccessAndDenormalsAreZeroDuringRender) {
  RenderUnitPtr unit = OpenRenderUnit();
  const int saved = GETCSR();
  const int before = 0x1F80;  // no exception flags, denormals kept
  SETCSR(before);
  const OSStatus status = RenderAt(*unit, 0);
  const int after = GETCSR();
  volatile float tiny = 1e-30f;
  volatile float small = 1e-10f;
  const float productOutside = tiny * small;
  SETCSR(saved);

  EXPECT_EQ(status, noErr);
  // The render's underflow must not leave its exception flags behind.
  EXPECT_EQ(after, before);
  EXPECT_EQ(unit->csrDuringRender, before | 0x8040);
  EXPECT_EQ(unit->productDuringRender, 0.0f);
  EXPECT_EQ(unit->denormalInputDuringRender, 0.0f);
  EXPECT_GT(productOutside, 0.0f) << "outside a render denormals survive";
}

TEST(RenderChecks, OtherExceptionsLeaveDoRenderWithRegisterRestored) {
  RenderUnitPtr unit = OpenRenderUnit();
  unit->throwOther = true;
  const int saved = GETCSR();
  SETCSR(0x1F80);
  bool thrown = false;
  try {
    RenderAt(*unit, 0);
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  const int after = GETCSR();
  SETCSR(saved);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(after, 0x1F80);
  EXPECT_EQ(unit->GetLastRenderError(), noErr) << "left to the component entry";
}

TEST(RenderError, FirstFailureIsKeptAndAnnouncedOnce) {
  RenderUnitPtr unit = OpenRenderUnit();
  Notices notices;
  unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, &Notices::Count, &notices);

  EXPECT_EQ(RenderAt(*unit, 0, 5000), kAudioUnitErr_TooManyFramesToProcess);
  unit->renderResult = -9;
  EXPECT_EQ(RenderAt(*unit, 512), -9) << "a later failure is still returned";
  unit->renderResult = noErr;
  EXPECT_EQ(RenderAt(*unit, 1024), noErr);

  EXPECT_EQ(unit->GetLastRenderError(), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(notices.count, 1);
  EXPECT_EQ(unit->SetRenderError(noErr), noErr);
  EXPECT_EQ(notices.count, 1);
}

// ---- observers ------------------------------------------------------------------------

TEST(RenderObservers, SeeCallerFlagsPlusPhaseAndNeverLeakTheirChanges) {
  RenderUnitPtr unit = OpenRenderUnit();
  ObserverLog log;
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &log), noErr);
  unit->flagsToSet = kAudioUnitRenderAction_OutputIsSilence;

  CallerList caller(2, 256, false);
  AudioUnitRenderActionFlags flags = 0x1;
  ASSERT_EQ(unit->DoRender(flags, At(64), 0, 256, caller.list()), noErr);

  ASSERT_EQ(log.count, 2u);
  EXPECT_EQ(log.calls[0].flags, 0x1u | kAudioUnitRenderAction_PreRender);
  EXPECT_EQ(log.calls[1].flags,
            0x1u | kAudioUnitRenderAction_OutputIsSilence | kAudioUnitRenderAction_PostRender);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(log.calls[i].sampleTime, 64.0);
    EXPECT_EQ(log.calls[i].bus, 0u);
    EXPECT_EQ(log.calls[i].frames, 256u);
    EXPECT_EQ(log.calls[i].ioData, &caller.list());
  }
  EXPECT_EQ(flags, 0x1u | kAudioUnitRenderAction_OutputIsSilence);
}

TEST(RenderObservers, PostRenderErrorFlagWhenTheRenderFails) {
  RenderUnitPtr unit = OpenRenderUnit();
  ObserverLog log;
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &log), noErr);
  unit->renderResult = -3;
  EXPECT_EQ(RenderAt(*unit, 0), -3);
  ASSERT_EQ(log.count, 2u);
  EXPECT_EQ(log.calls[1].flags,
            kAudioUnitRenderAction_PostRender | kAudioUnitRenderAction_PostRenderError);

  // An earlier stored error does not mark a later successful render.
  unit->renderResult = noErr;
  EXPECT_EQ(RenderAt(*unit, 512), noErr);
  ASSERT_EQ(log.count, 4u);
  EXPECT_EQ(log.calls[3].flags, kAudioUnitRenderAction_PostRender);
}

TEST(RenderObservers, ChangesTakeEffectAtTheNextRender) {
  RenderUnitPtr unit = OpenRenderUnit();
  ObserverLog a, b;
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &a), noErr);
  ASSERT_EQ(RenderAt(*unit, 0), noErr);
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &b), noErr);
  ASSERT_EQ(unit->RemoveRenderNotification(&ObserverLog::Observe, &a), noErr);
  ASSERT_EQ(RenderAt(*unit, 512), noErr);
  EXPECT_EQ(a.count, 2u);
  EXPECT_EQ(b.count, 2u);
}

// ---- output buffers ---------------------------------------------------------------------

TEST(RenderBuffers, NullDataPointersReceiveTheUnitsOwnBuffers) {
  RenderUnitPtr unit = OpenRenderUnit();
  unit->fillValue = 0.5f;
  CallerList caller(2, 300, false);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(unit->DoRender(flags, At(0), 0, 300, caller.list()), noErr);

  const AudioBufferList& own = unit->GetOutput(0)->GetBufferList();
  for (UInt32 b = 0; b < 2; ++b) {
    const AudioBuffer& got = caller.list().mBuffers[b];
    ASSERT_NE(got.mData, nullptr);
    EXPECT_EQ(got.mData, own.mBuffers[b].mData);
    EXPECT_EQ(got.mDataByteSize, 300u * 4);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(got.mData) % 16, 0u);
    EXPECT_EQ(static_cast<Float32*>(got.mData)[299], 0.5f + b);
  }
}

TEST(RenderBuffers, CallerDataIsRenderedIntoDirectly) {
  RenderUnitPtr unit = OpenRenderUnit();
  unit->fillValue = 2.0f;
  CallerList caller(2, 128, true);
  Float32* left = caller.Samples(0);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(unit->DoRender(flags, At(0), 0, 128, caller.list()), noErr);

  EXPECT_EQ(caller.list().mBuffers[0].mData, left);
  EXPECT_EQ(left[0], 2.0f);
  EXPECT_EQ(caller.Samples(1)[127], 3.0f);
  // The unit must not keep pointing at memory it does not own.
  EXPECT_EQ(unit->GetOutput(0)->GetIOBuffer().GetPtrState(), AUBufferList::kPtrsInvalid);
}

// Points the output at memory of its own, the way in-place processing points
// it at the input's buffers.
class ElsewhereUnit : public RenderUnit {
 public:
  using RenderUnit::RenderUnit;
  OSStatus Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32 nFrames) override {
    for (UInt32 b = 0; b < 2; ++b) {
      Float32* samples = mElsewhere.Samples(b);
      for (UInt32 i = 0; i < nFrames; ++i) samples[i] = 7.0f + b;
      mElsewhere.list().mBuffers[b].mDataByteSize = nFrames * 4;
    }
    GetOutput(0)->SetBufferList(mElsewhere.list());
    return noErr;
  }

 private:
  CallerList mElsewhere{2, 1156, true};
};

TEST(RenderBuffers, OutputPointedElsewhereIsCopiedIntoCallerData) {
  std::unique_ptr<ElsewhereUnit, TestUnitCloser> unit(new ElsewhereUnit(1, 1));
  unit->PostConstructor();
  ASSERT_EQ(unit->DoInitialize(), noErr);
  CallerList caller(2, 64, true);
  Float32* right = caller.Samples(1);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(unit->DoRender(flags, At(0), 0, 64, caller.list()), noErr);
  EXPECT_EQ(caller.list().mBuffers[1].mData, right);
  EXPECT_EQ(right[0], 8.0f);
  EXPECT_EQ(right[63], 8.0f);
  EXPECT_EQ(caller.Samples(0)[10], 7.0f);
}

TEST(RenderBuffers, WithSeveralOutputsTheUnitRendersIntoItsOwnMemoryThenCopies) {
  RenderUnitPtr unit = OpenRenderUnit(2);
  unit->fillValue = 4.0f;
  CallerList caller(2, 32, true);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(unit->DoRender(flags, At(0), 0, 32, caller.list()), noErr);
  EXPECT_EQ(caller.list().mBuffers[0].mData, caller.Samples(0));
  EXPECT_EQ(caller.Samples(0)[31], 4.0f);
  EXPECT_EQ(caller.Samples(1)[0], 5.0f);
}

TEST(RenderBuffers, FailedRenderLeavesTheCallersListAlone) {
  RenderUnitPtr unit = OpenRenderUnit();
  unit->renderResult = -1;
  CallerList caller(2, 64, false);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(unit->DoRender(flags, At(0), 0, 64, caller.list()), -1);
  EXPECT_EQ(caller.list().mBuffers[0].mData, nullptr);
}

// ---- repeated time stamps -----------------------------------------------------------------

TEST(RenderTimes, SameSampleTimeRendersOnceUntilReset) {
  RenderUnitPtr unit = OpenRenderUnit();
  struct Step {
    Float64 time;
    bool reset;
    int calls;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Step steps[] = {
      {0.0, false, 1},    {0.0, false, 1},  {512.0, false, 2}, {512.0, false, 2},
      {512.0, true, 3},   {0.0, false, 4},  {nan, false, 5},   {nan, false, 6},
      {-1.0, false, 7},
  };
  for (const Step& s : steps) {
    if (s.reset) {
      EXPECT_EQ(unit->Reset(kAudioUnitScope_Global, 0), noErr);
    }
    EXPECT_EQ(RenderAt(*unit, s.time), noErr);
    EXPECT_EQ(unit->renderCalls, s.calls) << "time " << s.time << " reset " << s.reset;
  }
}

TEST(RenderTimes, RenderThreadIsRecordedOnlyWhenWanted) {
  RenderUnitPtr unit = OpenRenderUnit();
  pthread_t renderThread{};
  auto renderOnThread = [&](Float64 t) {
    std::thread th([&] {
      renderThread = pthread_self();
      EXPECT_EQ(RenderAt(*unit, t), noErr);
    });
    th.join();
  };

  renderOnThread(0);
  EXPECT_EQ(unit->GetRenderThreadID(), pthread_t{});

  unit->SetWantsRenderThreadID(true);
  EXPECT_TRUE(unit->WantsRenderThreadID());
  renderOnThread(512);
  EXPECT_TRUE(pthread_equal(unit->GetRenderThreadID(), renderThread));

  unit->SetWantsRenderThreadID(true);  // unchanged: keeps the recorded thread
  EXPECT_TRUE(pthread_equal(unit->GetRenderThreadID(), renderThread));
  unit->SetWantsRenderThreadID(false);
  EXPECT_FALSE(unit->WantsRenderThreadID());
  EXPECT_EQ(unit->GetRenderThreadID(), pthread_t{});
}

// ---- scheduling ---------------------------------------------------------------------------

TEST(ScheduleParameter, ImmediateEventsApplyAtOnceAndEveryEventIsKept) {
  RenderUnitPtr unit = OpenRenderUnit();
  const AudioUnitParameterEvent events[] = {ImmediateEvent(0, 100, 0.25f), RampEvent(1, 0, 64, 0.0f, 1.0f)};
  ASSERT_EQ(unit->ScheduleParameter(events, 2), noErr);

  AudioUnitParameterValue v = 0;
  EXPECT_EQ(unit->GetParameter(0, kAudioUnitScope_Global, 0, v), noErr);
  EXPECT_EQ(v, 0.25f);
  EXPECT_EQ(unit->GetParameter(1, kAudioUnitScope_Global, 0, v), noErr);
  EXPECT_EQ(v, kUntouched) << "a ramp waits for the render";
  ASSERT_EQ(unit->GetParamEventList().size(), 2u);
  EXPECT_EQ(unit->GetParamEventList()[1].eventType, kParameterEvent_Ramped);
}

TEST(ScheduleParameter, ThrownStatusEndsTheLoopKeepingEarlierEvents) {
  RenderUnitPtr unit = OpenRenderUnit();
  const AudioUnitParameterEvent events[] = {ImmediateEvent(0, 0, 1.0f), ImmediateEvent(0, 0, 2.0f, 1, 9),
                                            ImmediateEvent(0, 0, 3.0f)};
  OSStatus thrown = noErr;
  try {
    unit->ScheduleParameter(events, 3);
  } catch (OSStatus s) {
    thrown = s;
  }
  EXPECT_EQ(thrown, kAudioUnitErr_InvalidElement);
  EXPECT_EQ(unit->GetParamEventList().size(), 1u);
  AudioUnitParameterValue v = 0;
  unit->GetParameter(0, kAudioUnitScope_Global, 0, v);
  EXPECT_EQ(v, 1.0f);
}

TEST(ScheduleParameter, EventsAreConsumedBySuccessfulRendersOnly) {
  RenderUnitPtr unit = OpenRenderUnit();
  const AudioUnitParameterEvent ramp = RampEvent(0, 0, 64, 0.0f, 1.0f);
  ASSERT_EQ(unit->ScheduleParameter(&ramp, 1), noErr);

  unit->renderResult = -5;
  EXPECT_EQ(RenderAt(*unit, 0), -5);
  EXPECT_EQ(unit->GetParamEventList().size(), 0u)
      << "a render that got past its notifications empties the list";

  ASSERT_EQ(unit->ScheduleParameter(&ramp, 1), noErr);
  EXPECT_EQ(RenderAt(*unit, 0, 5000), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(unit->GetParamEventList().size(), 1u) << "kept for the next call";

  unit->renderResult = noErr;
  EXPECT_EQ(RenderAt(*unit, 512), noErr);
  EXPECT_TRUE(unit->GetParamEventList().empty());
  EXPECT_GE(unit->GetParamEventList().capacity(), AUBase::kReservedParameterEvents);
}

TEST(ScheduleParameter, SortOrdersBySignedOffsetOfEitherKind) {
  // Offset 16 is read as signed for both kinds: 0x80000000 as an immediate
  // offset sorts before everything.
  const auto late = ImmediateEvent(0, 0x80000000u, 0.0f);
  const auto neg = RampEvent(0, -5, 10, 0, 1);
  const auto zero = ImmediateEvent(0, 0, 0.0f);
  EXPECT_TRUE(AUBase::SortParameterEventList(late, neg));
  EXPECT_TRUE(AUBase::SortParameterEventList(neg, zero));
  EXPECT_FALSE(AUBase::SortParameterEventList(zero, zero));
  EXPECT_FALSE(AUBase::SortParameterEventList(zero, neg));
}

// ---- slicing -------------------------------------------------------------------------------

struct ExpectedSlice {
  UInt32 start;
  UInt32 frames;
  std::vector<int> written;  // tracked parameters (re)written for this slice
};

struct SliceCase {
  const char* name;
  UInt32 frames;
  std::vector<AudioUnitParameterEvent> events;
  std::vector<ExpectedSlice> slices;
};

class Slicing : public ::testing::TestWithParam<SliceCase> {};

TEST_P(Slicing, CutsAtEventsAndAppliesEachToItsSlices) {
  const SliceCase& c = GetParam();
  RenderUnitPtr unit = OpenRenderUnit();
  AUBase::ParameterEventList list(c.events.begin(), c.events.end());
  ASSERT_EQ(unit->ProcessForScheduledParams(list, c.frames, unit.get()), noErr);

  ASSERT_EQ(unit->sliceCount, c.slices.size());
  UInt32 covered = 0;
  for (size_t i = 0; i < c.slices.size(); ++i) {
    const SliceRecord& got = unit->slices[i];
    const ExpectedSlice& want = c.slices[i];
    EXPECT_EQ(got.start, want.start) << "slice " << i;
    EXPECT_EQ(got.frames, want.frames) << "slice " << i;
    EXPECT_EQ(got.total, c.frames);
    EXPECT_EQ(got.start, covered) << "slices are contiguous";
    covered += got.frames;
    for (int p = 0; p < kTracked; ++p) {
      const bool expected =
          std::find(want.written.begin(), want.written.end(), p) != want.written.end();
      EXPECT_EQ(got.Written(p), expected) << "slice " << i << " parameter " << p;
    }
  }
  EXPECT_EQ(covered, c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Slicing,
    ::testing::Values(
        SliceCase{"NoEvents", 512, {}, {{0, 512, {}}}},
        SliceCase{"ImmediatesAt100And300",
                  512,
                  {ImmediateEvent(1, 300, 3.0f), ImmediateEvent(0, 100, 1.0f)},  // unsorted on purpose
                  {{0, 100, {}}, {100, 200, {0}}, {300, 212, {0, 1}}}},
        SliceCase{"RampFrom0Lasting128", 512, {RampEvent(0, 0, 128, 0, 1)}, {{0, 128, {0}}, {128, 384, {}}}},
        SliceCase{"RampInsideTheCall",
                  512,
                  {RampEvent(0, 100, 100, 0, 1)},
                  {{0, 100, {}}, {100, 100, {0}}, {200, 312, {}}}},
        SliceCase{"OffsetBeyondTheCall", 512, {ImmediateEvent(0, 600, 1.0f)}, {{0, 512, {}}}},
        SliceCase{"OffsetAtExactlyTheEnd", 512, {RampEvent(0, 512, 10, 0, 1)}, {{0, 512, {}}}},
        SliceCase{"RampStartedBeforeTheCall",
                  256,
                  {RampEvent(0, -64, 128, 0, 1)},
                  {{0, 64, {0}}, {64, 192, {}}}},
        // The ramp ended before the call; its end, read as an unsigned sum, is
        // still beyond every slice start.
        SliceCase{"RampEndedBeforeTheCall", 256, {RampEvent(0, -200, 100, 0, 1)}, {{0, 256, {0}}}},
        // A "negative" immediate offset is a huge unsigned one: never reached.
        SliceCase{"ImmediateWithNegativeOffset",
                  256,
                  {ImmediateEvent(0, static_cast<UInt32>(-10), 1.0f), ImmediateEvent(1, 100, 1.0f)},
                  {{0, 100, {}}, {100, 156, {1}}}},
        SliceCase{"RampLongerThanTheCall",
                  256,
                  {RampEvent(0, 0, 1000, 0, 1), ImmediateEvent(1, 128, 1.0f)},
                  {{0, 128, {0}}, {128, 128, {0, 1}}}},
        SliceCase{"RampEndCutsBeforeALaterOffset",
                  512,
                  {RampEvent(0, 10, 20, 0, 1), ImmediateEvent(1, 300, 1.0f)},
                  {{0, 10, {}}, {10, 20, {0}}, {30, 270, {}}, {300, 212, {1}}}},
        SliceCase{"ImmediateAt0AppliesToEverySlice",
                  512,
                  {ImmediateEvent(0, 0, 1.0f), ImmediateEvent(1, 256, 1.0f)},
                  {{0, 256, {0}}, {256, 256, {0, 1}}}},
        SliceCase{"EventOnAMissingElementIsSkipped",
                  512,
                  {ImmediateEvent(0, 0, 1.0f, kAudioUnitScope_Output, 3), ImmediateEvent(1, 50, 1.0f)},
                  {{0, 50, {}}, {50, 462, {1}}}}),
    [](const ::testing::TestParamInfo<SliceCase>& info) { return info.param.name; });

TEST(SlicingValues, RampSegmentsFollowTheWholeRampsLine) {
  RenderUnitPtr unit = OpenRenderUnit();
  // 0 -> 1 over frames 100..200, with cuts at 150 (an immediate) in a 256-frame call.
  AUBase::ParameterEventList list{RampEvent(0, 100, 100, 0.0f, 1.0f), ImmediateEvent(1, 150, 9.0f)};
  ASSERT_EQ(unit->ProcessForScheduledParams(list, 256, unit.get()), noErr);
  ASSERT_EQ(unit->sliceCount, 4u);  // 0-100, 100-150, 150-200, 200-256
  const SliceRecord& second = unit->slices[1];
  const SliceRecord& third = unit->slices[2];
  EXPECT_EQ(second.offset[0], 0);
  EXPECT_EQ(second.sliceDuration[0], 50u);
  EXPECT_EQ(third.offset[0], -50) << "relative to the slice's first frame";
  EXPECT_EQ(third.sliceDuration[0], 50u);
  EXPECT_EQ(third.type[1], kParameterEvent_Immediate);
  EXPECT_EQ(third.value[1], 9.0f);
}

TEST(SlicingValues, LatestImmediateOffsetWinsAndIsReappliedEachSlice) {
  RenderUnitPtr unit = OpenRenderUnit();
  AUBase::ParameterEventList list{ImmediateEvent(0, 200, 2.0f), ImmediateEvent(0, 0, 1.0f),
                                  ImmediateEvent(1, 400, 5.0f)};
  ASSERT_EQ(unit->ProcessForScheduledParams(list, 512, unit.get()), noErr);
  ASSERT_EQ(unit->sliceCount, 3u);
  EXPECT_EQ(unit->slices[0].value[0], 1.0f);
  EXPECT_EQ(unit->slices[1].value[0], 2.0f);
  EXPECT_EQ(unit->slices[2].value[0], 2.0f) << "re-applied after being overwritten";
  EXPECT_EQ(unit->slices[1].sliceDuration[0], 200u);
}

TEST(SlicingValues, SliceStatusEndsTheLoop) {
  RenderUnitPtr unit = OpenRenderUnit();
  unit->failSlice = 2;
  unit->sliceFailure = -31;
  AUBase::ParameterEventList list{ImmediateEvent(0, 100, 1.0f), ImmediateEvent(0, 300, 1.0f)};
  EXPECT_EQ(unit->ProcessForScheduledParams(list, 512, unit.get()), -31);
  EXPECT_EQ(unit->sliceCount, 2u);
}

TEST(SlicingValues, DefaultSliceHookAnswersNoError) {
  TestUnit unit(1, 1);
  unit.PostConstructor();
  AUBase::ParameterEventList list{ImmediateEvent(0, 10, 1.0f)};
  EXPECT_EQ(unit.ProcessForScheduledParams(list, 64, nullptr), noErr);
  unit.PreDestructor();
}

// ---- steady state ---------------------------------------------------------------------------

TEST(RenderSteadyState, RenderingWithObserversAndScheduledEventsDoesNotAllocate) {
  RenderUnitPtr unit = OpenRenderUnit();
  ObserverLog log;
  ASSERT_EQ(unit->SetRenderNotification(&ObserverLog::Observe, &log), noErr);
  Notices notices;
  unit->AddPropertyListener(kAudioUnitProperty_LastRenderError, &Notices::Count, &notices);
  CallerList withData(2, 512, true);
  CallerList noData(2, 512, false);
  const AudioUnitParameterEvent events[] = {RampEvent(0, 0, 256, 0, 1), ImmediateEvent(1, 128, 0.5f),
                                            ImmediateEvent(2, 300, 0.5f)};
  RenderAt(*unit, -100);  // applies the pending observer

  tCountAllocations = true;
  long allocations = 0;
  for (int i = 0; i < 8; ++i) {
    unit->ScheduleParameter(events, 3);
    AudioUnitRenderActionFlags flags = 0;
    unit->DoRender(flags, At(512.0 * i), 0, 512, (i % 2) ? withData.list() : noData.list());
  }
  unit->renderResult = -2;  // the error notice path too
  AudioUnitRenderActionFlags flags = 0;
  unit->DoRender(flags, At(99999), 0, 512, noData.list());
  allocations = tAllocations;
  tCountAllocations = false;

  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(unit->sliceCount, 8u * 4);
  EXPECT_EQ(notices.count, 1);
}
