// Input sources: connections to a second in-process unit reached through the
// component seam, host render callbacks, and pulling input during a render.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/ComponentSeam.h"
#include "support/PropertyNotices.h"
#include "support/TestUnit.h"
#include "support/ThrownStatus.h"

namespace {

// A unit that renders a recognisable signal: sample value base + channel.
class SignalUnit : public TestUnit {
 public:
  using TestUnit::TestUnit;

  OSStatus RenderBus(AudioUnitRenderActionFlags& flags, const AudioTimeStamp& ts, UInt32 bus,
                     UInt32 nFrames) override {
    mBus = bus;
    return TestUnit::RenderBus(flags, ts, bus, nFrames);
  }

  OSStatus Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32 nFrames) override {
    ++renders;
    AudioBufferList& abl = GetOutput(mBus)->GetBufferList();
    for (UInt32 b = 0; b < abl.mNumberBuffers; ++b) {
      auto* samples = static_cast<Float32*>(abl.mBuffers[b].mData);
      for (UInt32 i = 0; i < nFrames; ++i) samples[i] = base + static_cast<Float32>(b);
    }
    if (duringRender) duringRender();
    return result;
  }

  int renders = 0;
  Float32 base = 10.0f;
  OSStatus result = noErr;
  std::function<void()> duringRender;

 private:
  UInt32 mBus = 0;
};

// What a connected unit looks like from outside: a component instance whose
// calls the test's host table answers.
struct Source {
  explicit Source(UInt32 outputs = 1)
      : unit(new SignalUnit(1, outputs, 0, 0, reinterpret_cast<ComponentInstance>(this))) {
    unit->PostConstructor();
  }
  ComponentInstance Instance() { return reinterpret_cast<ComponentInstance>(this); }
  static Source& Of(ComponentInstance instance) { return *reinterpret_cast<Source*>(instance); }

  struct Query {
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    AudioUnitElement element;
    UInt32 size;
  };

  std::unique_ptr<SignalUnit, TestUnitCloser> unit;
  OSStatus formatStatus = noErr;  // non-zero: refuse the format query
  bool refuseFastDispatch = false;
  std::vector<Query> queries;
  int fastRenders = 0;
  int hostRenders = 0;
  UInt32 lastBus = 99;
};

OSStatus FastRender(void* storage, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                    UInt32 bus, UInt32 frames, AudioBufferList* ioData) {
  auto* unit = static_cast<SignalUnit*>(storage);
  Source& source = Source::Of(unit->GetComponentInstance());
  ++source.fastRenders;
  source.lastBus = bus;
  return unit->DoRender(*flags, *ts, bus, frames, *ioData);
}

OSStatus HostGetProperty(AudioUnit instance, AudioUnitPropertyID id, AudioUnitScope scope,
                         AudioUnitElement element, void* out, UInt32* size) {
  Source& source = Source::Of(instance);
  source.queries.push_back({id, scope, element, *size});
  try {
    if (id == kAudioUnitProperty_StreamFormat) {
      if (source.formatStatus != noErr) return source.formatStatus;
      const AudioStreamBasicDescription& format = source.unit->GetStreamFormat(scope, element);
      std::memcpy(out, &format, sizeof(format));
      *size = sizeof(format);
      return noErr;
    }
    if (id == kAudioUnitProperty_FastDispatch && !source.refuseFastDispatch &&
        element == kAudioUnitRenderSelect && *size >= sizeof(AudioUnitRenderProc)) {
      const AudioUnitRenderProc proc = &FastRender;
      std::memcpy(out, &proc, sizeof(proc));
      *size = sizeof(proc);
      return noErr;
    }
  } catch (OSStatus status) {
    return status;
  }
  return kAudioUnitErr_InvalidProperty;
}

OSStatus HostRender(AudioUnit instance, AudioUnitRenderActionFlags* flags,
                    const AudioTimeStamp* ts, UInt32 bus, UInt32 frames, AudioBufferList* ioData) {
  Source& source = Source::Of(instance);
  ++source.hostRenders;
  source.lastBus = bus;
  return source.unit->DoRender(*flags, *ts, bus, frames, *ioData);
}

void* HostStorage(ComponentInstance instance) { return Source::Of(instance).unit.get(); }

const AudioUnitHostOps kHostOps{&HostGetProperty, &HostRender, &HostStorage, nullptr, nullptr};

CAStreamBasicDescription Format(UInt32 channels, Float64 rate = 44100.0) {
  CAStreamBasicDescription format;
  format.SetCanonical(channels, false);
  format.mSampleRate = rate;
  return format;
}

void SetOutputFormat(AUBase& unit, const CAStreamBasicDescription& format) {
  unit.ChangeStreamFormat(kAudioUnitScope_Output, 0, unit.GetStreamFormat(kAudioUnitScope_Output, 0),
                          format);
}

// Buffer records the source saw as it was asked to render (its pre-render observer).
struct SeenList {
  static OSStatus Observe(void* refCon, AudioUnitRenderActionFlags* flags,
                          const AudioTimeStamp* ts, UInt32, UInt32, AudioBufferList* ioData) {
    auto* seen = static_cast<SeenList*>(refCon);
    if ((*flags & kAudioUnitRenderAction_PreRender) == 0) return noErr;
    seen->flags = *flags;
    seen->sampleTime = ts->mSampleTime;
    seen->count = ioData->mNumberBuffers;
    for (UInt32 i = 0; i < ioData->mNumberBuffers && i < seen->buffers.size(); ++i)
      seen->buffers[i] = ioData->mBuffers[i];
    return noErr;
  }
  AudioUnitRenderActionFlags flags = 0;
  Float64 sampleTime = 0;
  UInt32 count = 0;
  std::array<AudioBuffer, 4> buffers{};
};

AudioTimeStamp At(Float64 sampleTime) {
  AudioTimeStamp ts{};
  ts.mSampleTime = sampleTime;
  return ts;
}

OSStatus CallbackFill(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                      UInt32 bus, UInt32 frames, AudioBufferList* ioData);

// A host input procedure that records what it is given and fills the list.
struct HostCallback {
  UInt32 bus = 99;
  UInt32 frames = 0;
  std::vector<AudioBuffer> seen;
  OSStatus result = noErr;
  std::function<void()> during;
};

OSStatus CallbackFill(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                      UInt32 bus, UInt32 frames, AudioBufferList* ioData) {
  auto* cb = static_cast<HostCallback*>(refCon);
  cb->bus = bus;
  cb->frames = frames;
  cb->seen.assign(ioData->mBuffers, ioData->mBuffers + ioData->mNumberBuffers);
  for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
    auto* samples = static_cast<Float32*>(ioData->mBuffers[b].mData);
    for (UInt32 i = 0; i < frames; ++i) samples[i] = 0.25f * (b + 1);
  }
  if (cb->during) cb->during();
  return cb->result;
}

class InputConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    mPrevious = SetAudioUnitHostOps(&kHostOps);
    dest = OpenTestUnit();
    dest->AddPropertyListener(kAudioUnitProperty_MakeConnection, &RecordNotice, &notices);
    dest->AddPropertyListener(kAudioUnitProperty_StreamFormat, &RecordNotice, &notices);
    dest->AddPropertyListener(kAudioUnitProperty_SetRenderCallback, &RecordNotice, &notices);
  }
  void TearDown() override { SetAudioUnitHostOps(mPrevious); }

  OSStatus Connect(Source& source, UInt32 sourceOutput = 0, UInt32 destInput = 0) {
    return dest->SetConnection({source.Instance(), sourceOutput, destInput});
  }
  AUInputElement& Input() { return *dest->GetInput(0); }
  OSStatus Pull(UInt32 frames, AudioUnitRenderActionFlags flags = 0, Float64 time = 0) {
    return Input().PullInput(flags, At(time), 0, frames);
  }

  TestUnitPtr dest;
  std::vector<Notice> notices;

 private:
  const AudioUnitHostOps* mPrevious = nullptr;
};

}  // namespace

// ---- connecting ----------------------------------------------------------------------

TEST_F(InputConnection, AdoptsTheSourceFormatAndAsksForTheDirectEntry) {
  Source source(2);
  SetOutputFormat(*source.unit, Format(4, 48000.0));
  source.unit->GetOutput(1)->SetStreamFormat(Format(3, 96000.0));

  ASSERT_EQ(Connect(source, 1), noErr);

  EXPECT_TRUE(Input().HasConnection());
  EXPECT_TRUE(dest->HasInput(0));
  EXPECT_EQ(dest->GetStreamFormat(kAudioUnitScope_Input, 0), Format(3, 96000.0));
  EXPECT_EQ(Input().GetConnectionRenderProc(), &FastRender);
  EXPECT_EQ(Input().GetConnection().sourceOutputNumber, 1u);

  ASSERT_EQ(source.queries.size(), 2u);
  EXPECT_EQ(source.queries[0].id, kAudioUnitProperty_StreamFormat);
  EXPECT_EQ(source.queries[0].scope, kAudioUnitScope_Output);
  EXPECT_EQ(source.queries[0].element, 1u);
  EXPECT_EQ(source.queries[0].size, 40u);
  EXPECT_EQ(source.queries[1].id, kAudioUnitProperty_FastDispatch);
  EXPECT_EQ(source.queries[1].scope, kAudioUnitScope_Global);
  EXPECT_EQ(source.queries[1].element, static_cast<UInt32>(kAudioUnitRenderSelect));
  EXPECT_EQ(source.queries[1].size, sizeof(void*));

  const std::vector<Notice> expected{
      {kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0},
      {kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0}};
  EXPECT_EQ(notices, expected);
}

TEST_F(InputConnection, NullSourceDisconnectsWithoutAskingAnything) {
  Source source;
  ASSERT_EQ(Connect(source), noErr);
  source.queries.clear();
  notices.clear();

  ASSERT_EQ(dest->SetConnection({nullptr, 0, 0}), noErr);
  EXPECT_FALSE(dest->HasInput(0));
  EXPECT_TRUE(source.queries.empty());
  const std::vector<Notice> expected{{kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0}};
  EXPECT_EQ(notices, expected);
}

struct ConnectFailure {
  const char* name;
  std::function<void(Source& current, Source& next, AUBase& dest)> setup;
  OSStatus expected;
};

class ConnectFailures : public InputConnection,
                        public ::testing::WithParamInterface<ConnectFailure> {};

TEST_P(ConnectFailures, LeaveTheInputWithItsPreviousSourceAndFormat) {
  const ConnectFailure& c = GetParam();
  Source current, next;
  ASSERT_EQ(Connect(current), noErr);
  c.setup(current, next, *dest);
  const CAStreamBasicDescription formatBefore = dest->GetStreamFormat(kAudioUnitScope_Input, 0);
  notices.clear();

  EXPECT_EQ(Connect(next), c.expected);

  EXPECT_TRUE(Input().HasConnection());
  EXPECT_EQ(Input().GetConnection().sourceAudioUnit, current.Instance());
  EXPECT_EQ(dest->GetStreamFormat(kAudioUnitScope_Input, 0), formatBefore);
  EXPECT_TRUE(notices.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ConnectFailures,
    ::testing::Values(
        ConnectFailure{"FormatQueryRefused",
                       [](Source&, Source& next, AUBase&) { next.formatStatus = -4711; }, -4711},
        ConnectFailure{"SourceFormatNotCanonical",
                       [](Source&, Source& next, AUBase&) {
                         CAStreamBasicDescription ints = Format(2);
                         ints.mFormatFlags = kAudioFormatFlagIsSignedInteger |
                                             kAudioFormatFlagIsPacked |
                                             kAudioFormatFlagIsNonInterleaved;
                         ints.mBitsPerChannel = 16;
                         ints.mBytesPerFrame = ints.mBytesPerPacket = 2;
                         SetOutputFormat(*next.unit, ints);
                       },
                       kAudioUnitErr_FormatNotSupported},
        // The connected input takes its format from its source only.
        ConnectFailure{"DifferentFormatWhileConnected",
                       [](Source&, Source& next, AUBase&) { SetOutputFormat(*next.unit, Format(1)); },
                       kAudioUnitErr_PropertyNotWritable}),
    [](const ::testing::TestParamInfo<ConnectFailure>& info) { return info.param.name; });

TEST_F(InputConnection, MissingDestinationInputRaisesBeforeAnyQuery) {
  Source source;
  EXPECT_EQ(ThrownStatus([&] { Connect(source, 0, 1); }), kAudioUnitErr_InvalidElement);
  EXPECT_TRUE(source.queries.empty());
  EXPECT_FALSE(dest->HasInput(0));
}

TEST_F(InputConnection, ReconnectingToAnotherFormatNeedsADisconnectFirst) {
  Source stereo, mono;
  SetOutputFormat(*mono.unit, Format(1));
  ASSERT_EQ(Connect(stereo), noErr);
  EXPECT_EQ(Connect(mono), kAudioUnitErr_PropertyNotWritable);
  ASSERT_EQ(dest->SetConnection({nullptr, 0, 0}), noErr);
  EXPECT_EQ(Connect(mono), noErr);
  EXPECT_EQ(dest->GetStreamFormat(kAudioUnitScope_Input, 0).NumberChannels(), 1u);

  Source otherMono;
  SetOutputFormat(*otherMono.unit, Format(1));
  EXPECT_EQ(Connect(otherMono), noErr) << "same format replaces the source directly";
  EXPECT_EQ(Input().GetConnection().sourceAudioUnit, otherMono.Instance());
}

TEST_F(InputConnection, WhileInitializedOnlyAnEqualFormatConnects) {
  Source same, other;
  SetOutputFormat(*other.unit, Format(2, 22050.0));
  ASSERT_EQ(dest->DoInitialize(), noErr);
  EXPECT_EQ(Connect(other), kAudioUnitErr_PropertyNotWritable);
  EXPECT_FALSE(dest->HasInput(0));
  EXPECT_EQ(Connect(same), noErr);
  // A connected input owns no sample memory, only room for its streams.
  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedStreams(), 2u);
  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedBytes(), 0u);
}

TEST_F(InputConnection, WithoutAHostTableSourcesCannotBeReached) {
  SetAudioUnitHostOps(nullptr);
  Source source;
  EXPECT_EQ(Connect(source), paramErr);
  EXPECT_FALSE(dest->HasInput(0));
  UInt32 size = 40;
  AudioStreamBasicDescription format{};
  EXPECT_EQ(AudioUnitGetProperty(source.Instance(), kAudioUnitProperty_StreamFormat,
                                 kAudioUnitScope_Output, 0, &format, &size),
            paramErr);
  EXPECT_EQ(GetComponentInstanceStorage(source.Instance()), nullptr);
}

// ---- callbacks and HasInput ---------------------------------------------------------------

TEST_F(InputConnection, CallbacksReplaceConnectionsAndNullCallbacksDisconnect) {
  Source source;
  HostCallback cb;
  ASSERT_EQ(dest->DoInitialize(), noErr);
  ASSERT_EQ(Connect(source), noErr);
  notices.clear();

  ASSERT_EQ(dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &CallbackFill, &cb),
            noErr);
  EXPECT_TRUE(Input().IsCallback());
  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedFrames(), dest->GetMaxFramesPerSlice());

  ASSERT_EQ(dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, nullptr, nullptr),
            noErr);
  EXPECT_FALSE(dest->HasInput(0));
  EXPECT_EQ(Input().GetIOBuffer().GetMemory(), nullptr);

  const Notice callbackNotice{kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0};
  EXPECT_EQ(notices, (std::vector<Notice>{callbackNotice, callbackNotice}));
  EXPECT_EQ(ThrownStatus([&] {
              dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 1, &CallbackFill, &cb);
            }),
            kAudioUnitErr_InvalidElement);
}

TEST_F(InputConnection, HasInputNeverRaises) {
  EXPECT_FALSE(dest->HasInput(0));
  EXPECT_FALSE(dest->HasInput(3));
  HostCallback cb;
  dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &CallbackFill, &cb);
  EXPECT_TRUE(dest->HasInput(0));
}

TEST_F(InputConnection, SourcesMadeWhileUninitializedGetMemoryAtInitialize) {
  HostCallback cb;
  dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &CallbackFill, &cb);
  EXPECT_EQ(Input().GetIOBuffer().GetMemory(), nullptr);
  ASSERT_EQ(dest->DoInitialize(), noErr);
  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedFrames(), 1156u);
  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedBytes(), 2u * 1156 * 4);
}

// ---- pulling -----------------------------------------------------------------------------

TEST_F(InputConnection, PullWithoutSourceTouchesNothing) {
  ASSERT_EQ(dest->DoInitialize(), noErr);
  const AUBufferList& buffers = Input().GetIOBuffer();
  const UInt32 streams = buffers.GetAllocatedStreams();
  EXPECT_EQ(Pull(16), kAudioUnitErr_NoConnection);
  EXPECT_EQ(buffers.GetPtrState(), AUBufferList::kPtrsInvalid);
  EXPECT_EQ(buffers.GetAllocatedStreams(), streams);
  EXPECT_EQ(buffers.GetMemory(), nullptr);
}

TEST_F(InputConnection, ConnectionPullHandsTheSourceNullBuffersAndKeepsItsPointers) {
  Source source;
  ASSERT_EQ(source.unit->DoInitialize(), noErr);
  SeenList seen;
  ASSERT_EQ(source.unit->SetRenderNotification(&SeenList::Observe, &seen), noErr);
  ASSERT_EQ(dest->DoInitialize(), noErr);
  ASSERT_EQ(Connect(source), noErr);

  ASSERT_EQ(Pull(512, 0x1, 1024.0), noErr);

  EXPECT_EQ(source.fastRenders, 1);
  EXPECT_EQ(source.hostRenders, 0);
  EXPECT_EQ(seen.flags, 0x1u | kAudioUnitRenderAction_PreRender);
  EXPECT_EQ(seen.sampleTime, 1024.0);
  ASSERT_EQ(seen.count, 2u);
  for (UInt32 b = 0; b < 2; ++b) {
    EXPECT_EQ(seen.buffers[b].mData, nullptr);
    EXPECT_EQ(seen.buffers[b].mDataByteSize, 2048u);
    EXPECT_EQ(seen.buffers[b].mNumberChannels, 1u);
  }

  // No copy: the input now points at the source's own output memory.
  const AudioBufferList& pulled = Input().GetBufferList();
  const AudioBufferList& sourceOut = source.unit->GetOutput(0)->GetBufferList();
  for (UInt32 b = 0; b < 2; ++b) {
    EXPECT_EQ(pulled.mBuffers[b].mData, sourceOut.mBuffers[b].mData);
    EXPECT_EQ(static_cast<Float32*>(pulled.mBuffers[b].mData)[511], 10.0f + b);
  }
}

TEST_F(InputConnection, RefusedFastDispatchPullsThroughAudioUnitRender) {
  Source source(2);
  source.refuseFastDispatch = true;
  ASSERT_EQ(source.unit->DoInitialize(), noErr);
  ASSERT_EQ(dest->DoInitialize(), noErr);
  ASSERT_EQ(Connect(source, 1), noErr);
  EXPECT_EQ(Input().GetConnectionRenderProc(), nullptr);

  ASSERT_EQ(Pull(256), noErr);
  EXPECT_EQ(source.hostRenders, 1);
  EXPECT_EQ(source.fastRenders, 0);
  EXPECT_EQ(source.lastBus, 1u);
}

TEST_F(InputConnection, CallbackPullGrowsMemoryBeyondTheMaximumSlice) {
  HostCallback cb;
  ASSERT_EQ(dest->DoInitialize(), noErr);
  ASSERT_EQ(dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &CallbackFill, &cb),
            noErr);
  ASSERT_EQ(Input().GetIOBuffer().GetAllocatedFrames(), 1156u);

  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(Input().PullInput(flags, At(0), 7, 2048), noErr);

  EXPECT_EQ(Input().GetIOBuffer().GetAllocatedFrames(), 2048u);
  EXPECT_EQ(cb.bus, 7u) << "the bus the caller named";
  ASSERT_EQ(cb.seen.size(), 2u);
  const auto* memory = Input().GetIOBuffer().GetMemory();
  for (UInt32 b = 0; b < 2; ++b) {
    EXPECT_EQ(cb.seen[b].mDataByteSize, 8192u);
    EXPECT_EQ(cb.seen[b].mData, memory + b * 8192);
  }
  EXPECT_EQ(static_cast<Float32*>(Input().GetBufferList().mBuffers[1].mData)[2047], 0.5f);
}

struct DisconnectCase {
  const char* name;
  bool callback;
  OSStatus sourceResult;
  bool disconnectDuringPull;
  OSStatus expected;
};

class PullResults : public InputConnection, public ::testing::WithParamInterface<DisconnectCase> {};

TEST_P(PullResults, SourceStatusUnlessTheInputLostItsSource) {
  const DisconnectCase& c = GetParam();
  Source source;
  HostCallback cb;
  ASSERT_EQ(source.unit->DoInitialize(), noErr);
  ASSERT_EQ(dest->DoInitialize(), noErr);
  auto disconnect = [&] { dest->SetConnection({nullptr, 0, 0}); };
  if (c.callback) {
    cb.result = c.sourceResult;
    if (c.disconnectDuringPull) cb.during = disconnect;
    dest->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &CallbackFill, &cb);
  } else {
    source.unit->result = c.sourceResult;
    if (c.disconnectDuringPull) source.unit->duringRender = disconnect;
    ASSERT_EQ(Connect(source), noErr);
  }
  EXPECT_EQ(Pull(128), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PullResults,
    ::testing::Values(DisconnectCase{"ConnectionOk", false, noErr, false, noErr},
                      DisconnectCase{"ConnectionFails", false, -66, false, -66},
                      DisconnectCase{"ConnectionGoneDuringPull", false, noErr, true,
                                     kAudioUnitErr_NoConnection},
                      DisconnectCase{"CallbackOk", true, noErr, false, noErr},
                      DisconnectCase{"CallbackFails", true, -67, false, -67},
                      DisconnectCase{"CallbackGoneDuringPull", true, noErr, true,
                                     kAudioUnitErr_NoConnection}),
    [](const ::testing::TestParamInfo<DisconnectCase>& info) { return info.param.name; });

// ---- a chain of two units -------------------------------------------------------------------

// Pulls input 0 and passes it through in place, as an effect does.
class PassThroughUnit : public TestUnit {
 public:
  using TestUnit::TestUnit;
  OSStatus Render(AudioUnitRenderActionFlags& flags, const AudioTimeStamp& ts,
                  UInt32 nFrames) override {
    if (!HasInput(0)) return kAudioUnitErr_NoConnection;
    const OSStatus status = GetInput(0)->PullInput(flags, ts, 0, nFrames);
    if (status != noErr) return status;
    GetOutput(0)->SetBufferList(GetInput(0)->GetBufferList());
    return noErr;
  }
};

TEST_F(InputConnection, ChainedRenderHandsTheHostTheSourcesSamples) {
  Source source;
  ASSERT_EQ(source.unit->DoInitialize(), noErr);
  std::unique_ptr<PassThroughUnit, TestUnitCloser> effect(new PassThroughUnit(1, 1));
  effect->PostConstructor();
  ASSERT_EQ(effect->DoInitialize(), noErr);
  ASSERT_EQ(effect->SetConnection({source.Instance(), 0, 0}), noErr);

  std::vector<AudioBuffer> storage(3);
  auto& host = *reinterpret_cast<AudioBufferList*>(storage.data());
  host.mNumberBuffers = 2;
  host.mBuffers[0] = {1, 0, nullptr};
  host.mBuffers[1] = {1, 0, nullptr};
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(effect->DoRender(flags, At(0), 0, 256, host), noErr);

  const AudioBufferList& sourceOut = source.unit->GetOutput(0)->GetBufferList();
  EXPECT_EQ(host.mBuffers[0].mData, sourceOut.mBuffers[0].mData);
  EXPECT_EQ(host.mBuffers[1].mDataByteSize, 1024u);
  EXPECT_EQ(static_cast<Float32*>(host.mBuffers[1].mData)[255], 11.0f);

  // The same time stamp again: neither unit renders anew.
  ASSERT_EQ(effect->DoRender(flags, At(0), 0, 256, host), noErr);
  EXPECT_EQ(source.unit->renders, 1);

  ASSERT_EQ(effect->SetConnection({nullptr, 0, 0}), noErr);
  EXPECT_EQ(effect->DoRender(flags, At(256), 0, 256, host), kAudioUnitErr_NoConnection);
}
