// The effect base: channel checks, kernel upkeep, its two properties, the
// parameter-list notice, and rendering through the whole render path (input
// pull, in-place processing, bypass, silence and its timeout, slicing at
// scheduled events).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "effect/ModulationState.h"
#include "support/ParameterEvents.h"
#include "support/TestEffect.h"
#include "utility/CAFloatingPointMode.h"

namespace {

// What the kernels of one effect did.
struct KernelLog {
  struct Call {
    unsigned channel;
    unsigned frames;
    unsigned stride;
    bool silenceIn;
  };
  std::vector<Call> calls;
  int resets = 0;
  int destroyed = 0;
  bool clearSilence = true;   // the kernel reports sound
  bool writeConstant = false;  // writes 1.0 instead of the scaled input
};

// Writes input x (channel + 2), so every output sample tells which kernel
// made it from which input sample.
class RecordingKernel : public AUKernelBase {
 public:
  RecordingKernel(AUKernelOwner& owner, KernelLog& log) : AUKernelBase(owner), mLog(log) {}
  ~RecordingKernel() override { ++mLog.destroyed; }
  void Reset() override { ++mLog.resets; }
  void Process(const float* source, float* destination, unsigned frames, unsigned stride,
               bool& silence) override {
    mLog.calls.push_back({GetChannelNum(), frames, stride, silence});
    const float scale = static_cast<float>(GetChannelNum() + 2);
    for (unsigned i = 0; i < frames; ++i)
      destination[i * stride] = mLog.writeConstant ? 1.0f : source[i * stride] * scale;
    if (mLog.clearSilence) silence = false;
  }

 private:
  KernelLog& mLog;
};

TestEffectPtr OpenRecordingEffect(KernelLog& log, UInt32 in = 2, UInt32 out = 2,
                                  bool inPlace = true) {
  TestEffectPtr fx = OpenTestEffect(in, out, inPlace);
  fx->kernelFactory = [&log](AUKernelOwner& owner) { return new RecordingKernel(owner, log); };
  return fx;
}

// A rendering effect fed by a TestSignal and rendered into caller buffers.
struct Rig {
  explicit Rig(UInt32 channels = 2, bool inPlace = true, UInt32 frames = 512)
      : fx(OpenRecordingEffect(log, channels, channels, inPlace)), output(channels, frames) {
    signal.Attach(*fx);
    EXPECT_EQ(fx->DoInitialize(), noErr);
  }

  OSStatus Render(UInt32 frames, AudioUnitRenderActionFlags* flagsOut = nullptr) {
    output.Point(frames);
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status = fx->DoRender(flags, SampleTime(time), 0, frames, output.list());
    time += frames;
    if (flagsOut) *flagsOut = flags;
    return status;
  }

  KernelLog log;
  TestEffectPtr fx;
  TestSignal signal;
  TestOutput output;
  Float64 time = 0;
};

void SetProperty32(AUEffectBase& fx, AudioUnitPropertyID id, UInt32 value) {
  ASSERT_EQ(fx.SetProperty(id, kAudioUnitScope_Global, 0, &value, sizeof(value)), noErr);
}

UInt32 GetProperty32(AUEffectBase& fx, AudioUnitPropertyID id) {
  UInt32 value = 0xDEADBEEF;
  EXPECT_EQ(fx.GetProperty(id, kAudioUnitScope_Global, 0, &value), noErr);
  return value;
}

// ---- channel checks and kernels ----------------------------------------------------------

struct ChannelCase {
  const char* what;
  std::vector<AUChannelInfo> table;
  UInt32 in, out;
  OSStatus status;
};

TEST(EffectInitialize, ChannelConfigurations) {
  const ChannelCase cases[] = {
      {"no table, stereo", {}, 2, 2, noErr},
      {"no table, mono", {}, 1, 1, noErr},
      {"no table, stereo in mono out", {}, 2, 1, kAudioUnitErr_FormatNotSupported},
      {"no table, zero channels", {}, 0, 0, kAudioUnitErr_FormatNotSupported},
      {"(-1,-1) equal counts", {{-1, -1}}, 2, 2, noErr},
      {"(-1,-1) unequal counts", {{-1, -1}}, 2, 1, kAudioUnitErr_FormatNotSupported},
      {"(-1,-2) any pair", {{-1, -2}}, 2, 1, noErr},
      {"(-2,-1) any pair", {{-2, -1}}, 1, 3, noErr},
      {"(-2,-2) is no wildcard", {{-2, -2}}, 2, 2, kAudioUnitErr_FormatNotSupported},
      {"(2,-1) any output", {{2, -1}}, 2, 5, noErr},
      {"(2,-1) wrong input", {{2, -1}}, 1, 5, kAudioUnitErr_FormatNotSupported},
      {"(-1,4) any input", {{-1, 4}}, 6, 4, noErr},
      {"exact entry later in the table", {{1, 1}, {2, 2}}, 2, 2, noErr},
      {"no entry fits", {{1, 1}, {4, 4}}, 2, 2, kAudioUnitErr_FormatNotSupported},
      // 65538 would pass as 2 if cut to 16 bits.
      {"count beyond 16 bits, no table", {}, 65538, 2, kAudioUnitErr_FormatNotSupported},
      {"count beyond 16 bits, wildcard", {{-1, -1}}, 65537, 1, kAudioUnitErr_FormatNotSupported},
  };
  for (const ChannelCase& c : cases) {
    SCOPED_TRACE(c.what);
    KernelLog log;
    TestEffectPtr fx = OpenRecordingEffect(log, c.in, c.out);
    fx->channelInfo = c.table;
    EXPECT_EQ(fx->DoInitialize(), c.status);
    EXPECT_EQ(fx->IsInitialized(), c.status == noErr);
    EXPECT_EQ(fx->GetNumberOfKernels(), c.status == noErr ? c.out : 0u);
  }
}

TEST(EffectKernels, FollowTheOutputChannelCountAcrossInitializations) {
  KernelLog log;
  TestEffectPtr fx = OpenRecordingEffect(log, 2, 2);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  ASSERT_EQ(fx->GetNumberOfKernels(), 2u);
  for (UInt32 c = 0; c < 2; ++c) {
    EXPECT_EQ(fx->GetKernel(c)->GetChannelNum(), c);
    EXPECT_EQ(fx->GetKernel(c)->IsLastKernel(), c == 1);
  }

  fx->DoCleanup();
  EXPECT_EQ(fx->GetNumberOfKernels(), 0u);
  EXPECT_EQ(log.destroyed, 2);

  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
    fx->ChangeStreamFormat(scope, 0, fx->GetStreamFormat(scope, 0), CanonicalTestFormat(1));
  ASSERT_EQ(fx->DoInitialize(), noErr);
  ASSERT_EQ(fx->GetNumberOfKernels(), 1u);
  EXPECT_EQ(fx->GetKernel(0)->GetChannelNum(), 0u);
  EXPECT_TRUE(fx->GetKernel(0)->IsLastKernel());
  EXPECT_EQ(fx->newKernelCalls, 3);
}

TEST(EffectKernels, MaintainGrowsAndShrinksKeepingExistingKernelsAndNullEntries) {
  KernelLog log;
  TestEffectPtr fx = OpenTestEffect(1, 1);
  int made = 0;
  // Every second kernel is missing; its channel still counts.
  fx->kernelFactory = [&](AUKernelOwner& owner) -> AUKernelBase* {
    return (made++ % 2 == 1) ? nullptr : new RecordingKernel(owner, log);
  };
  ASSERT_EQ(fx->DoInitialize(), noErr);
  AUKernelBase* first = fx->GetKernel(0);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->IsLastKernel());

  // Growing while initialized is what a subclass could do; the list follows.
  fx->GetOutput(0)->SetStreamFormat(CanonicalTestFormat(3));
  fx->MaintainKernels();
  ASSERT_EQ(fx->GetNumberOfKernels(), 3u);
  EXPECT_EQ(fx->GetKernel(0), first);
  EXPECT_FALSE(first->IsLastKernel());
  EXPECT_EQ(fx->GetKernel(1), nullptr);
  EXPECT_EQ(fx->GetKernel(2)->GetChannelNum(), 2u);
  EXPECT_TRUE(fx->GetKernel(2)->IsLastKernel());

  fx->GetOutput(0)->SetStreamFormat(CanonicalTestFormat(1));
  fx->MaintainKernels();
  EXPECT_EQ(fx->GetNumberOfKernels(), 1u);
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(fx->GetKernel(0), first);
  EXPECT_TRUE(first->IsLastKernel());
}

TEST(EffectKernels, AskTheirUnitForParametersAndSampleRate) {
  TestEffectPtr fx = OpenTestEffect(2, 2);
  fx->ChangeStreamFormat(kAudioUnitScope_Output, 0, fx->GetStreamFormat(kAudioUnitScope_Output, 0),
                         CanonicalTestFormat(2, 96000.0));
  ASSERT_EQ(fx->DoInitialize(), noErr);
  fx->SetParameter(kParam_Resonance, 7.5f);
  for (UInt32 c = 0; c < 2; ++c) {
    AUKernelBase* kernel = fx->GetKernel(c);
    EXPECT_EQ(kernel->GetSampleRate(), 96000.0);
    EXPECT_EQ(kernel->GetParameter(kParam_CutoffFrequency), 1000.0f);
    EXPECT_EQ(kernel->GetParameter(kParam_Resonance), 7.5f);
    EXPECT_EQ(kernel->GetParameter(kParam_Gain), 1.0f);
    try {
      kernel->GetParameter(99);
      ADD_FAILURE() << "unknown parameter answered";
    } catch (OSStatus status) {
      EXPECT_EQ(status, kAudioUnitErr_InvalidParameter);
    }
  }
  // The unit-level getter and setter stay reachable next to the kernels' ones.
  AudioUnitParameterValue value = 0;
  EXPECT_EQ(fx->GetParameter(kParam_Resonance, kAudioUnitScope_Global, 0, value), noErr);
  EXPECT_EQ(value, 7.5f);
}

TEST(EffectKernels, ResetClearsEveryKernelAndTheRenderTime) {
  Rig rig;
  ASSERT_EQ(rig.Render(64), noErr);
  EXPECT_NE(rig.fx->GetLastRenderedSampleTime(), AUBase::kNoLastRenderedSampleTime);
  EXPECT_EQ(rig.fx->Reset(kAudioUnitScope_Global, 0), noErr);
  EXPECT_EQ(rig.log.resets, 2);
  EXPECT_EQ(rig.fx->GetLastRenderedSampleTime(), AUBase::kNoLastRenderedSampleTime);
}

struct Notices {
  int parameterList = 0;
  static void Count(void* refCon, AudioUnit, AudioUnitPropertyID id, AudioUnitScope scope,
                    AudioUnitElement element) {
    if (id == kAudioUnitProperty_ParameterList && scope == kAudioUnitScope_Global && element == 0)
      ++static_cast<Notices*>(refCon)->parameterList;
  }
};

TEST(EffectFormats, SampleRateChangeAnnouncesParameterListWhenParametersDependOnIt) {
  struct Case {
    bool dependent;
    AudioUnitScope scope;
    Float64 newRate;
    int notices;
  };
  const Case cases[] = {
      {true, kAudioUnitScope_Output, 48000.0, 1},
      {true, kAudioUnitScope_Input, 48000.0, 1},
      {true, kAudioUnitScope_Output, 44100.0, 0},  // same rate, other channel count
      {false, kAudioUnitScope_Output, 48000.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dependent << " " << c.scope << " " << c.newRate);
    TestEffectPtr fx = OpenTestEffect();
    fx->SetParamHasSampleRateDependency(c.dependent);
    Notices notices;
    fx->AddPropertyListener(kAudioUnitProperty_ParameterList, &Notices::Count, &notices);
    const CAStreamBasicDescription previous = fx->GetStreamFormat(c.scope, 0);
    EXPECT_EQ(fx->ChangeStreamFormat(c.scope, 0, previous, CanonicalTestFormat(1, c.newRate)),
              noErr);
    EXPECT_EQ(notices.parameterList, c.notices);
    EXPECT_EQ(fx->GetStreamFormat(c.scope, 0).mSampleRate, c.newRate);
  }
}

// ---- properties ------------------------------------------------------------------------------

TEST(EffectProperties, InfoGetAndSetInTheGlobalScope) {
  TestEffectPtr fx = OpenTestEffect();
  for (AudioUnitPropertyID id :
       {kAudioUnitProperty_BypassEffect, kAudioUnitProperty_InPlaceProcessing}) {
    SCOPED_TRACE(id);
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(fx->GetPropertyInfo(id, kAudioUnitScope_Global, 0, size, writable), noErr);
    EXPECT_EQ(size, 4u);
    EXPECT_TRUE(writable);
    // Other scopes are not the effect's.
    EXPECT_EQ(fx->GetPropertyInfo(id, kAudioUnitScope_Input, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
    UInt32 value = 1;
    EXPECT_EQ(fx->SetProperty(id, kAudioUnitScope_Output, 0, &value, 4),
              kAudioUnitErr_InvalidProperty);
  }

  EXPECT_EQ(GetProperty32(*fx, kAudioUnitProperty_BypassEffect), 0u);
  EXPECT_EQ(GetProperty32(*fx, kAudioUnitProperty_InPlaceProcessing), 1u);
  SetProperty32(*fx, kAudioUnitProperty_BypassEffect, 7);
  SetProperty32(*fx, kAudioUnitProperty_InPlaceProcessing, 0);
  EXPECT_TRUE(fx->IsBypassEffect());
  EXPECT_FALSE(fx->ProcessesInPlace());
  EXPECT_EQ(GetProperty32(*fx, kAudioUnitProperty_BypassEffect), 1u);
  EXPECT_EQ(GetProperty32(*fx, kAudioUnitProperty_InPlaceProcessing), 0u);

  // Short values are refused and change nothing.
  const UInt16 shortValue = 0;
  for (AudioUnitPropertyID id :
       {kAudioUnitProperty_BypassEffect, kAudioUnitProperty_InPlaceProcessing}) {
    EXPECT_EQ(fx->SetProperty(id, kAudioUnitScope_Global, 0, &shortValue, sizeof(shortValue)),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(fx->SetProperty(id, kAudioUnitScope_Global, 0, nullptr, 4),
              kAudioUnitErr_InvalidPropertyValue);
  }
  EXPECT_TRUE(fx->IsBypassEffect());
  EXPECT_FALSE(fx->ProcessesInPlace());
}

TEST(EffectProperties, LeavingBypassResetsTheKernelsBeforeTheyNextProcess) {
  Rig rig;
  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 1);
  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 1);  // already on
  ASSERT_EQ(rig.Render(64), noErr);
  EXPECT_EQ(rig.log.resets, 0);
  EXPECT_TRUE(rig.log.calls.empty());

  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 0);
  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 0);  // already off
  ASSERT_EQ(rig.Render(64), noErr);
  EXPECT_EQ(rig.log.resets, 2) << "one reset per kernel, once";
  EXPECT_EQ(rig.fx->resetCalls, 1) << "through the unit's own Reset";
  EXPECT_EQ(rig.log.calls.size(), 2u);
  ASSERT_EQ(rig.Render(64), noErr);
  EXPECT_EQ(rig.log.resets, 2);

  // While uninitialized there are no kernels to reset.
  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 1);
  rig.fx->DoCleanup();
  SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 0);
  ASSERT_EQ(rig.fx->DoInitialize(), noErr);
  ASSERT_EQ(rig.Render(64), noErr);
  EXPECT_EQ(rig.fx->resetCalls, 1);
}

// ---- rendering ---------------------------------------------------------------------------------

void ExpectScaledSignal(const TestOutput& out, UInt32 frames, UInt64 position) {
  for (UInt32 c = 0; c < out.samples.size(); ++c)
    for (UInt32 i = 0; i < frames; ++i)
      ASSERT_EQ(out.samples[c][i], TestSignal::Sample(c, position + i) * float(c + 2))
          << "channel " << c << " frame " << i;
}

TEST(EffectRender, EachChannelGoesThroughItsOwnKernelInPlaceOrNot) {
  for (bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "in place" : "separate output");
    Rig rig(3, inPlace);
    for (UInt64 position = 0; position < 3 * 256; position += 256) {
      ASSERT_EQ(rig.Render(256), noErr);
      ExpectScaledSignal(rig.output, 256, position);
    }
    ASSERT_EQ(rig.log.calls.size(), 9u);
    for (const KernelLog::Call& call : rig.log.calls) {
      EXPECT_EQ(call.frames, 256u);
      EXPECT_EQ(call.stride, 1u);
      EXPECT_FALSE(call.silenceIn);
    }
  }
}

TEST(EffectRender, InPlaceHandsOutTheInputsBuffers) {
  for (bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "in place" : "separate output");
    Rig rig(2, inPlace);
    rig.output.NullPointers();
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(rig.fx->DoRender(flags, SampleTime(0), 0, 128, rig.output.list()), noErr);
    const AudioBufferList& input = rig.fx->GetInput(0)->GetBufferList();
    for (UInt32 c = 0; c < 2; ++c) {
      EXPECT_EQ(rig.output.list().mBuffers[c].mData == input.mBuffers[c].mData, inPlace);
      EXPECT_EQ(rig.output.list().mBuffers[c].mDataByteSize, 128u * 4);
      const float* rendered = static_cast<const float*>(rig.output.list().mBuffers[c].mData);
      EXPECT_EQ(rendered[5], TestSignal::Sample(c, 5) * float(c + 2));
    }
  }
}

TEST(EffectRender, KernelsWithoutInputChannelsStayIdle) {
  // A table may allow more output than input channels; the extra kernels
  // have no samples, and must not be handed pointers past either list.
  struct Case {
    AUChannelInfo entry;
    UInt32 in, out;
    bool inPlace;
    size_t kernelsRun;
  };
  const Case cases[] = {
      {{2, -1}, 2, 4, false, 2},
      {{2, -1}, 2, 4, true, 2},
      {{1, -1}, 1, 3, false, 1},
      {{1, -1}, 1, 3, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << "/" << c.out << " " << c.inPlace);
    KernelLog log;
    TestEffectPtr fx = OpenRecordingEffect(log, c.in, c.out, c.inPlace);
    fx->channelInfo = {c.entry};
    TestSignal signal;
    signal.Attach(*fx);
    ASSERT_EQ(fx->DoInitialize(), noErr);
    ASSERT_EQ(fx->GetNumberOfKernels(), c.out);
    TestOutput out(c.out, 128);
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(fx->DoRender(flags, SampleTime(0), 0, 128, out.list()), noErr);
    ASSERT_EQ(log.calls.size(), c.kernelsRun);
    for (size_t k = 0; k < c.kernelsRun; ++k) {
      EXPECT_EQ(log.calls[k].channel, k);
      EXPECT_EQ(log.calls[k].stride, 1u);
      EXPECT_EQ(out.samples[k][9], TestSignal::Sample(UInt32(k), 9) * float(k + 2));
    }
  }
}

TEST(EffectRender, BypassPassesTheInputThroughWithoutKernels) {
  for (bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "in place" : "separate output");
    Rig rig(2, inPlace);
    SetProperty32(*rig.fx, kAudioUnitProperty_BypassEffect, 1);
    ASSERT_EQ(rig.Render(300), noErr);
    EXPECT_TRUE(rig.log.calls.empty());
    for (UInt32 c = 0; c < 2; ++c)
      for (UInt32 i = 0; i < 300; ++i) ASSERT_EQ(rig.output.samples[c][i], TestSignal::Sample(c, i));
  }
}

TEST(EffectRender, MissingOrFailingInputLeavesTheOutputAlone) {
  KernelLog log;
  TestEffectPtr fx = OpenRecordingEffect(log);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  TestOutput out(2, 64);
  for (auto& channel : out.samples) std::fill(channel.begin(), channel.end(), 42.0f);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(fx->DoRender(flags, SampleTime(0), 0, 64, out.list()), kAudioUnitErr_NoConnection);

  struct Failing {
    static OSStatus Render(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                           AudioBufferList*) {
      return -4711;
    }
  };
  fx->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &Failing::Render, nullptr);
  EXPECT_EQ(fx->DoRender(flags, SampleTime(64), 0, 64, out.list()), -4711);
  EXPECT_TRUE(log.calls.empty());
  for (const auto& channel : out.samples)
    for (float v : channel) ASSERT_EQ(v, 42.0f);
}

TEST(EffectRender, SilenceFlagAndZeroedOutput) {
  struct Case {
    bool inPlace;
    bool inputSilent;
    bool kernelClears;
    bool flagAfter;
    bool outputZero;
  };
  const Case cases[] = {
      // Every kernel leaves silence: the judgement stands, and a separate
      // output is cleared whatever the kernels wrote.
      {false, true, false, true, true},
      {true, true, false, true, false},
      // Any kernel reporting sound clears the flag.
      {false, true, true, false, false},
      // Sounding input: the kernels are told so.
      {false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inPlace << c.inputSilent << c.kernelClears);
    Rig rig(2, c.inPlace);
    rig.log.clearSilence = c.kernelClears;
    rig.log.writeConstant = true;
    rig.signal.silent = c.inputSilent;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(rig.Render(128, &flags), noErr);
    EXPECT_EQ((flags & kAudioUnitRenderAction_OutputIsSilence) != 0, c.flagAfter);
    for (const KernelLog::Call& call : rig.log.calls) EXPECT_EQ(call.silenceIn, c.inputSilent);
    for (UInt32 ch = 0; ch < 2; ++ch)
      EXPECT_EQ(rig.output.samples[ch][17], c.outputZero ? 0.0f : 1.0f);
  }
}

TEST(EffectRender, TailKeepsTheKernelsGoingAfterTheInputFallsSilent) {
  // 0.001 s at 44100 Hz is 44 frames: a 512-frame call covers it.
  Rig rig;
  rig.fx->tailTime = 0.001;
  const bool silentInput[] = {false, true, true, true, false, true, true};
  const bool toldSilent[] = {false, false, true, true, false, false, true};
  for (size_t i = 0; i < std::size(silentInput); ++i) {
    rig.signal.silent = silentInput[i];
    rig.log.calls.clear();
    ASSERT_EQ(rig.Render(512), noErr);
    ASSERT_EQ(rig.log.calls.size(), 2u);
    EXPECT_EQ(rig.log.calls[0].silenceIn, toldSilent[i]) << "call " << i;
  }

  // With 16-frame calls the 44 frames take three calls.
  rig.signal.silent = false;
  ASSERT_EQ(rig.Render(16), noErr);
  rig.signal.silent = true;
  std::vector<bool> told;
  for (int i = 0; i < 5; ++i) {
    rig.log.calls.clear();
    ASSERT_EQ(rig.Render(16), noErr);
    told.push_back(rig.log.calls[0].silenceIn);
  }
  EXPECT_EQ(told, (std::vector<bool>{false, false, false, true, true}));
}

TEST(SilentTimeout, CountsFramesFromTheFirstSilentCall) {
  struct Step {
    UInt32 frames;
    bool silent;
    bool expected;
  };
  struct Case {
    const char* what;
    UInt32 limit;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"no tail", 0, {{64, true, true}, {64, false, false}, {64, true, true}}},
      {"tail spans two calls",
       100,
       {{64, true, false}, {64, true, false}, {64, true, true}, {64, false, false},
        {64, true, false}}},
      {"long slice passes the limit at once", 100, {{4096, true, false}, {1, true, true}}},
      // A limit beyond the signed counter means a very long tail, not none.
      {"limit beyond 31 bits", 0xFFFFFFFFu, {{4096, true, false}, {4096, true, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AUSilentTimeout timeout;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      bool silence = c.steps[i].silent;
      timeout.Process(c.steps[i].frames, c.limit, silence);
      EXPECT_EQ(silence, c.steps[i].expected) << "step " << i;
    }
  }
}

TEST(EffectRender, TimeoutFromLatencyAndTailIsClampedToFrameCounts) {
  struct Case {
    Float64 latency, tail;
    bool firstSilentToldSilent;
  };
  const Case cases[] = {
      {0.0, 0.0, true},
      {-1.0, 0.0, true},  // negative time is no time
      {std::numeric_limits<double>::quiet_NaN(), 0.0, true},
      {0.0, 1e300, false},
      {0.01, 0.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.latency << " " << c.tail);
    Rig rig;
    rig.fx->latency = c.latency;
    rig.fx->tailTime = c.tail;
    rig.signal.silent = true;
    ASSERT_EQ(rig.Render(64), noErr);
    EXPECT_EQ(rig.log.calls[0].silenceIn, c.firstSilentToldSilent);
  }
}

AudioUnitParameterEvent ImmediateGain(UInt32 offset, float value) { return ImmediateEvent(kParam_Gain, offset, value); }

TEST(EffectRender, ScheduledEventsCutTheCallIntoSlicesOverTheSameBuffers) {
  struct Case {
    bool inPlace;
    bool callerBuffers;
    std::vector<UInt32> offsets;
    std::vector<UInt32> slices;
  };
  const Case cases[] = {
      {true, true, {100}, {100, 412}},
      {false, true, {100}, {100, 412}},
      {true, false, {100, 300}, {100, 200, 212}},
      {false, false, {100, 300}, {100, 200, 212}},
      {true, true, {600}, {512}},  // beyond the call
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inPlace << c.callerBuffers << c.offsets.size());
    Rig rig(2, c.inPlace);
    rig.fx->recordSlices = true;

    // The same render without events, for the buffer pointers it hands out.
    if (!c.callerBuffers) rig.output.NullPointers();
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(rig.fx->DoRender(flags, SampleTime(-512), 0, 512, rig.output.list()), noErr);
    std::vector<void*> plainPointers;
    for (UInt32 ch = 0; ch < 2; ++ch) plainPointers.push_back(rig.output.list().mBuffers[ch].mData);
    rig.fx->sliceFrames.clear();
    rig.signal.position = 0;

    // Each event halves the gain from its offset on (the kernels are filter
    // kernels in gain mode here).
    testX.store(0);
    rig.fx->kernelFactory = nullptr;
    rig.fx->DoCleanup();
    ASSERT_EQ(rig.fx->DoInitialize(), noErr);
    std::vector<AudioUnitParameterEvent> events;
    float gain = 1.0f;
    for (UInt32 offset : c.offsets) events.push_back(ImmediateGain(offset, gain /= 2));
    // Immediate events apply at once; put the gain back for the first slice.
    ASSERT_EQ(rig.fx->ScheduleParameter(events.data(), UInt32(events.size())), noErr);
    rig.fx->SetParameter(kParam_Gain, 1.0f);

    if (c.callerBuffers)
      rig.output.Point(512);
    else
      rig.output.NullPointers();
    ASSERT_EQ(rig.fx->DoRender(flags, SampleTime(0), 0, 512, rig.output.list()), noErr);

    EXPECT_EQ(rig.fx->sliceFrames, c.slices);
    for (UInt32 ch = 0; ch < 2; ++ch) {
      const AudioBuffer& buffer = rig.output.list().mBuffers[ch];
      EXPECT_EQ(buffer.mDataByteSize, 512u * 4);
      if (c.callerBuffers) {
        EXPECT_EQ(buffer.mData, rig.output.samples[ch].data());
      } else {
        EXPECT_EQ(buffer.mData, plainPointers[ch]);
      }
      const float* rendered = static_cast<const float*>(buffer.mData);
      for (UInt32 i = 0; i < 512; ++i) {
        float expectedGain = 1.0f;
        for (size_t e = 0; e < c.offsets.size(); ++e)
          if (c.offsets[e] <= i) expectedGain = events[e].eventValues.immediate.value;
        ASSERT_EQ(rendered[i], TestSignal::Sample(ch, i) * expectedGain) << ch << " " << i;
      }
    }
    // The input element's list is whole again too.
    const AudioBufferList& input = rig.fx->GetInput(0)->GetBufferList();
    EXPECT_EQ(input.mBuffers[1].mDataByteSize, 512u * 4);
  }
}

TEST(EffectRender, FilterKernelsRenderLikeStandaloneKernels) {
  // Filter mode, cutoff moved between calls: the unit's output per channel
  // is what one kernel per channel makes of that channel's samples alone.
  struct Owner final : AUKernelOwner {
    float cutoff = 1000.0f;
    Float64 GetSampleRate() override { return 44100.0; }
    AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override {
      return id == kParam_CutoffFrequency ? cutoff : id == kParam_Resonance ? 6.0f : 1.0f;
    }
  };
  testX.store(1);
  Owner owner;
  FilterKernel reference[2] = {FilterKernel(owner), FilterKernel(owner)};

  TestEffectPtr fx = OpenTestEffect(2, 2);
  fx->SetParameter(kParam_Resonance, 6.0f);
  TestSignal signal;
  signal.Attach(*fx);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  TestOutput out(2, 256);
  UInt64 position = 0;
  for (int call = 0; call < 4; ++call) {
    owner.cutoff = 500.0f + 700.0f * call;
    fx->SetParameter(kParam_CutoffFrequency, owner.cutoff);
    out.Point(256);
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(fx->DoRender(flags, SampleTime(position), 0, 256, out.list()), noErr);
    for (UInt32 c = 0; c < 2; ++c) {
      std::vector<float> in(256), want(256);
      for (UInt32 i = 0; i < 256; ++i) in[i] = TestSignal::Sample(c, position + i);
      bool silence = false;
      reference[c].Process(in.data(), want.data(), 256, 1, silence);
      ASSERT_EQ(out.samples[c], want) << "call " << call << " channel " << c;
    }
    position += 256;
  }
  testX.store(0);
}

// ---- floating-point mode ------------------------------------------------------------------------

TEST(EffectRender, ControlRegisterComesBackAfterEveryOutcome) {
  struct Failing {
    static OSStatus Render(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                           UInt32, AudioBufferList*) {
      return -4711;
    }
  };
  struct Case {
    const char* what;
    bool initialize;
    int input;  // 0 none, 1 signal, 2 failing
    UInt32 frames;
    OSStatus status;
  };
  const Case cases[] = {
      {"success", true, 1, 64, noErr},
      {"uninitialized", false, 1, 64, kAudioUnitErr_Uninitialized},
      {"too many frames", true, 1, 5000, kAudioUnitErr_TooManyFramesToProcess},
      {"no connection", true, 0, 64, kAudioUnitErr_NoConnection},
      {"pull failure", true, 2, 64, -4711},
  };
  const int saved = GETCSR();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestEffectPtr fx = OpenTestEffect(1, 1);
    TestSignal signal;
    if (c.input == 1) signal.Attach(*fx);
    if (c.input == 2)
      fx->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &Failing::Render, nullptr);
    if (c.initialize) {
      ASSERT_EQ(fx->DoInitialize(), noErr);
    }
    TestOutput out(1, 5000);
    const int before = 0x1F80 | 0x1;  // everything masked, one exception flag pending
    SETCSR(before);
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status = fx->DoRender(flags, SampleTime(0), 0, c.frames, out.list());
    const int after = GETCSR();
    SETCSR(saved);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(after, before);
  }
}

TEST(EffectRender, DenormalInputIsReadAsZeroDuringTheRender) {
  struct Tiny {
    static OSStatus Render(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                           UInt32 frames, AudioBufferList* list) {
      float* data = static_cast<float*>(list->mBuffers[0].mData);
      for (UInt32 i = 0; i < frames; ++i) data[i] = 1e-40f;  // denormal
      return noErr;
    }
  };
  testX.store(0);
  TestEffectPtr fx = OpenTestEffect(1, 1);
  fx->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &Tiny::Render, nullptr);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  TestOutput out(1, 32);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(fx->DoRender(flags, SampleTime(0), 0, 32, out.list()), noErr);
  EXPECT_EQ(out.samples[0][0], 0.0f);
  volatile float denormal = 1e-40f;
  EXPECT_GT(denormal * 1.0f, 0.0f) << "outside a render denormals survive";
}

}  // namespace
