// Base class of an effect with one input and one output bus whose channels
// are processed independently: one kernel per output channel does the signal
// processing, the effect base does everything around it (channel checks,
// pulling the input, in-place processing, bypass, silence and its timeout,
// slicing at scheduled parameter events).
#pragma once

#include <memory>
#include <vector>

#include "framework/AUBase.h"
#include "framework/AUKernelBase.h"
#include "framework/TRelaxedAtomic.h"

// Lets the kernels go on producing the unit's latency and tail after the
// input turned silent, counted in frames from the first silent call.
class AUSilentTimeout {
 public:
  // [render] silence true on entry: the input is silent. Comes back false
  // while the tail is still running.
  void Process(UInt32 inFramesToProcess, UInt32 inTimeoutLimit, bool& ioSilence);

 private:
  SInt32 mTimeoutCounter = 0;
  bool mResetTimer = true;
};

class AUEffectBase : public AUBase, public AUKernelOwner {
 public:
  // What Render hands ProcessScheduledSlice through the scheduled-parameter
  // machinery: both lists, advanced slice by slice.
  struct ScheduledSliceParams {
    AudioUnitRenderActionFlags* actionFlags;
    AudioBufferList* inputBufferList;
    AudioBufferList* outputBufferList;
  };

  // [control; constructing] One input and one output bus; inProcessesInPlace
  // is the starting value of the in-place property.
  AUEffectBase(ComponentInstance inInstance, bool inProcessesInPlace = true);
  // [control; closing]
  ~AUEffectBase() override;

  // ---- AUBase hooks ----------------------------------------------------------
  // [control; uninitialized] Checks the channel counts, then makes one kernel
  // per output channel.
  OSStatus Initialize() override;
  // [control; initialized] Deletes the kernels (the bus memory stays with AUBase).
  void Cleanup() override;
  // [control] Clears every kernel's state, then the base's render time;
  // [render] too, when the render thread runs the reset that leaving bypass
  // asked for.
  OSStatus Reset(AudioUnitScope inScope, AudioUnitElement inElement) override;

  // [control] Bypass and in-place processing, then AUBase's.
  OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                           AudioUnitElement inElement, UInt32& outDataSize,
                           Boolean& outWritable) override;
  OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                       AudioUnitElement inElement, void* outData) override;
  OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                       AudioUnitElement inElement, const void* inData,
                       UInt32 inDataSize) override;

  // [render; initialized] Pulls input 0 and hands each channel to its kernel
  // (or copies it when bypassed), cutting the call into slices at scheduled
  // parameter events.
  OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                  UInt32 inNumberFrames) override;

  // [control] Channel counts change only while uninitialized.
  bool StreamFormatWritable(AudioUnitScope inScope, AudioUnitElement inElement) override;
  // [control] Also announces a new parameter list when the sample rate
  // changes and the parameters depend on it.
  OSStatus ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                              const CAStreamBasicDescription& inPrevFormat,
                              const CAStreamBasicDescription& inNewFormat) override;

  // [render; initialized] One slice between scheduled events.
  OSStatus ProcessScheduledSlice(void* inUserData, UInt32 inStartFrameInBuffer,
                                 UInt32 inSliceFramesToProcess,
                                 UInt32 inTotalBufferFrames) override;

  // ---- effect hooks --------------------------------------------------------------
  // [control; uninitialized] A new kernel for one channel, owned by the
  // effect; null makes none.
  virtual AUKernelBase* NewKernel() { return nullptr; }
  // [render; initialized] Runs the kernels over nFrames of both lists; always 0.
  virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                      const AudioBufferList& inBuffer,
                                      AudioBufferList& outBuffer, UInt32 inFramesToProcess);
  // [render] The render path asks this one.
  virtual bool ShouldBypassEffect() { return IsBypassEffect(); }
  // [control] The bypass property; the render sees it at its next call.
  virtual void SetBypassEffect(bool inFlag);

  // ---- kernels -----------------------------------------------------------------
  // [control; uninitialized] Brings the kernel list to the output channel count.
  void MaintainKernels();
  // [any] Null when the channel has no kernel; the list changes only while
  // uninitialized.
  AUKernelBase* GetKernel(UInt32 inChannel) const {
    return inChannel < mKernelList.size() ? mKernelList[inChannel].get() : nullptr;
  }
  UInt32 GetNumberOfKernels() const { return static_cast<UInt32>(mKernelList.size()); }

  // [any] Output element 0's channel count and sample rate.
  UInt32 GetNumberOfChannels();
  Float64 GetSampleRate() override;

  // [any] Global element 0; the kernels' parameter questions land here.
  AudioUnitParameterValue GetParameter(AudioUnitParameterID inParamID) override;
  void SetParameter(AudioUnitParameterID inParamID, AudioUnitParameterValue inValue);
  using AUBase::GetParameter;
  using AUBase::SetParameter;

  // ---- flags -------------------------------------------------------------------
  // [any] Each flag is read and written whole.
  bool IsBypassEffect() const { return mBypassEffect; }
  bool ProcessesInPlace() const { return mProcessesInPlace; }
  void SetProcessesInPlace(bool inProcessesInPlace) { mProcessesInPlace = inProcessesInPlace; }
  // [control]
  bool GetParamHasSampleRateDependency() const { return mParamSRDep; }
  void SetParamHasSampleRateDependency(bool inFlag) { mParamSRDep = inFlag; }

  // [render] The input as the pull left it, held non-silent while the latency
  // and tail are still sounding.
  bool IsInputSilent(AudioUnitRenderActionFlags inActionFlags, UInt32 inFramesToProcess);

 private:
  // Leaving bypass asks the render thread to reset before it next processes,
  // so a reset never runs over a kernel that is rendering.
  void RunPendingReset();
  // Bus 0 of each side. The elements cannot change while initialized, so the
  // render path keeps them from Initialize to Cleanup instead of looking
  // them up several times a call.
  AUInputElement* Input0() { return mInput0 != nullptr ? mInput0 : GetInput(0); }
  AUOutputElement* Output0() { return mOutput0 != nullptr ? mOutput0 : GetOutput(0); }

  std::vector<std::unique_ptr<AUKernelBase>> mKernelList;
  TRelaxedAtomic<bool> mBypassEffect = false;
  bool mParamSRDep = false;
  TRelaxedAtomic<bool> mProcessesInPlace;
  AUSilentTimeout mSilentTimeout;
  std::atomic<bool> mResetPending{false};
  AUInputElement* mInput0 = nullptr;
  AUOutputElement* mOutput0 = nullptr;
};
