// Base of the per-channel signal-processing objects of an effect unit.
#pragma once

#include "platform/AudioTypes.h"

// The two questions a kernel asks the effect that owns it. The effect base
// answers them; tests answer them with a fake. Not deleted through this
// interface: the effect owns its kernels, never the other way round.
class AUKernelOwner {
 public:
  // [any] Sample rate of the unit's output element 0.
  virtual Float64 GetSampleRate() = 0;
  // [any] Current value of a global-scope parameter (element 0); throws the
  // bare status kAudioUnitErr_InvalidParameter for an unknown ID.
  virtual AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) = 0;

 protected:
  AUKernelOwner() = default;
  AUKernelOwner(const AUKernelOwner&) = default;
  AUKernelOwner& operator=(const AUKernelOwner&) = default;
  ~AUKernelOwner() = default;
};

class AUKernelBase {
 public:
  // [control; uninitialized] Made by the effect's NewKernel.
  explicit AUKernelBase(AUKernelOwner& owner) : mAudioUnit(owner) {}
  AUKernelBase(const AUKernelBase&) = delete;
  AUKernelBase& operator=(const AUKernelBase&) = delete;

  // [control] When the effect is cleaned up or closed.
  virtual ~AUKernelBase() = default;

  // [control] Clears the signal state; [render] too, for the reset that
  // leaving bypass asked for.
  virtual void Reset() {}

  // [render; initialized] Renders `frames` samples of one channel; consecutive samples of the
  // channel are `channelStride` floats apart. `silence` arrives true when the
  // effect judges the input silent; a kernel producing sound clears it.
  virtual void Process(const float* source, float* destination, unsigned frames,
                       unsigned channelStride, bool& silence) = 0;

  // [any] Asked on the render path: plain forwarding, no copy kept, so a
  // parameter change is seen at the next question.
  Float64 GetSampleRate() { return mAudioUnit.GetSampleRate(); }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) {
    return mAudioUnit.GetParameter(paramID);
  }

  // [control; uninitialized] Set as the effect makes its kernels; read anywhere.
  void SetChannelNum(unsigned channel) { mChannelNum = channel; }
  void SetLastKernel(bool last) { mLastKernel = last; }
  unsigned GetChannelNum() const { return mChannelNum; }
  bool IsLastKernel() const { return mLastKernel; }

 protected:
  AUKernelOwner& mAudioUnit;  // owning effect; not owned
  bool mLastKernel = false;
  unsigned mChannelNum = 0;
};
