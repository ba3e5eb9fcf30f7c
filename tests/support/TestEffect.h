// An effect for framework tests: the effect base with filter kernels and the
// filter's three parameter defaults, plus knobs for what the effect base asks
// of its subclass (kernels, channel table, latency and tail), and a render
// callback that feeds its input with a known signal.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "framework/AUEffectBase.h"
#include "support/TestUnit.h"

class TestEffect : public AUEffectBase {
 public:
  using KernelFactory = std::function<AUKernelBase*(AUKernelOwner&)>;

  explicit TestEffect(bool inPlace = true, ComponentInstance instance = TestUnit::DefaultInstance())
      : AUEffectBase(instance, inPlace) {
    SetParameter(kParam_CutoffFrequency, kDefaultCutoff);
    SetParameter(kParam_Resonance, kDefaultResonance);
    SetParameter(kParam_Gain, kDefaultValue_Gain);
  }

  AUKernelBase* NewKernel() override {
    ++newKernelCalls;
    return kernelFactory ? kernelFactory(*this) : new FilterKernel(*this);
  }
  UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override {
    if (channelInfo.empty()) return 0;
    *outInfo = channelInfo.data();
    return static_cast<UInt32>(channelInfo.size());
  }
  Float64 GetLatency() override { return latency; }
  Float64 GetTailTime() override { return tailTime; }
  OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override {
    ++resetCalls;
    return AUEffectBase::Reset(scope, element);
  }

  // Counts ProcessBufferLists calls and their frame counts.
  OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& flags, const AudioBufferList& in,
                              AudioBufferList& out, UInt32 frames) override {
    if (recordSlices) sliceFrames.push_back(frames);
    return AUEffectBase::ProcessBufferLists(flags, in, out, frames);
  }

  using AUBase::RenderNotifications;

  KernelFactory kernelFactory;
  std::vector<AUChannelInfo> channelInfo;
  Float64 latency = 0.0;
  Float64 tailTime = 0.0;
  int newKernelCalls = 0;
  int resetCalls = 0;
  bool recordSlices = false;  // off where allocation is counted
  std::vector<UInt32> sliceFrames;
};

using TestEffectPtr = std::unique_ptr<TestEffect, TestUnitCloser>;

// Opens an effect the way the component entry does, with both buses in the
// given channel counts at 44100 Hz.
inline TestEffectPtr OpenTestEffect(UInt32 inChannels = 2, UInt32 outChannels = 2,
                                    bool inPlace = true) {
  TestEffectPtr effect(new TestEffect(inPlace));
  effect->PostConstructor();
  effect->ChangeStreamFormat(kAudioUnitScope_Input, 0, effect->GetStreamFormat(kAudioUnitScope_Input, 0),
                             CanonicalTestFormat(inChannels));
  effect->ChangeStreamFormat(kAudioUnitScope_Output, 0,
                             effect->GetStreamFormat(kAudioUnitScope_Output, 0),
                             CanonicalTestFormat(outChannels));
  return effect;
}

// A host render callback: channel c, frame i of the n-th pull holds
// Sample(c, position + i); or zeros with the silence flag when silent.
struct TestSignal {
  UInt64 position = 0;
  bool silent = false;
  int pulls = 0;

  static float Sample(UInt32 channel, UInt64 frame) {
    return static_cast<float>(std::sin(0.01 * static_cast<double>(frame) + channel)) * 0.5f;
  }

  static OSStatus Render(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*,
                         UInt32, UInt32 frames, AudioBufferList* list) {
    auto& self = *static_cast<TestSignal*>(refCon);
    ++self.pulls;
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
      float* data = static_cast<float*>(list->mBuffers[b].mData);
      for (UInt32 i = 0; i < frames; ++i)
        data[i] = self.silent ? 0.0f : Sample(b, self.position + i);
    }
    if (self.silent) *flags |= kAudioUnitRenderAction_OutputIsSilence;
    self.position += frames;
    return noErr;
  }

  void Attach(AUBase& unit) {
    unit.SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &TestSignal::Render, this);
  }
};

// Caller-owned buffers for DoRender, one per channel.
struct TestOutput {
  explicit TestOutput(UInt32 channels, UInt32 frames)
      : samples(channels, std::vector<float>(frames, 0.0f)),
        storage(AudioBufferListSize(channels) / sizeof(AudioBufferList) + 1) {
    list().mNumberBuffers = channels;
    Point(frames);
  }

  // Points the list at the samples again, sized for `frames`.
  void Point(UInt32 frames) {
    for (UInt32 c = 0; c < list().mNumberBuffers; ++c) {
      list().mBuffers[c].mNumberChannels = 1;
      list().mBuffers[c].mDataByteSize = frames * sizeof(float);
      list().mBuffers[c].mData = samples[c].data();
    }
  }
  // For a render into the unit's own memory.
  void NullPointers() {
    for (UInt32 c = 0; c < list().mNumberBuffers; ++c) list().mBuffers[c].mData = nullptr;
  }

  AudioBufferList& list() { return *reinterpret_cast<AudioBufferList*>(storage.data()); }

  std::vector<std::vector<float>> samples;
  std::vector<AudioBufferList> storage;  // aligned room for the header and buffers
};

inline AudioTimeStamp SampleTime(Float64 t) {
  AudioTimeStamp ts{};
  ts.mSampleTime = t;
  ts.mFlags = kAudioTimeStampSampleTimeValid;
  return ts;
}
