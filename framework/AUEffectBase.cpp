#include "framework/AUEffectBase.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {
constexpr UInt32 kSampleBytes = sizeof(Float32);

UInt32 ReadUInt32(const void* inData) {
  UInt32 value;
  std::memcpy(&value, inData, sizeof(value));
  return value;
}

void WriteUInt32(void* outData, UInt32 value) { std::memcpy(outData, &value, sizeof(value)); }

// Moves every buffer's data pointer by its channels x frames samples
// (negative frames move it back).
void OffsetBuffers(AudioBufferList& list, SInt64 frames) {
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    AudioBuffer& buffer = list.mBuffers[i];
    buffer.mData = static_cast<Byte*>(buffer.mData) +
                   static_cast<std::ptrdiff_t>(frames) * buffer.mNumberChannels * kSampleBytes;
  }
}

void SetBufferSizes(AudioBufferList& list, UInt32 frames) {
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    AudioBuffer& buffer = list.mBuffers[i];
    buffer.mDataByteSize = buffer.mNumberChannels * frames * kSampleBytes;
  }
}

// A channel-configuration entry against the unit's counts; -1 and -2 are
// wildcards.
bool ChannelInfoMatches(const AUChannelInfo& info, SInt16 in, SInt16 out) {
  if (info.inChannels < 0 && info.outChannels < 0) {
    if ((info.inChannels == -1 && info.outChannels == -2) ||
        (info.inChannels == -2 && info.outChannels == -1))
      return true;
    return info.inChannels == -1 && info.outChannels == -1 && in == out;
  }
  const bool inMatches = info.inChannels == in || info.inChannels == -1;
  const bool outMatches = info.outChannels == out || info.outChannels == -1;
  return inMatches && outMatches;
}
}  // namespace

// ---- AUSilentTimeout ----------------------------------------------------------

void AUSilentTimeout::Process(UInt32 inFramesToProcess, UInt32 inTimeoutLimit, bool& ioSilence) {
  if (!ioSilence) {
    mResetTimer = true;
    return;
  }
  if (mResetTimer) {
    // A limit beyond the signed counter is a very long tail, not a negative one.
    constexpr UInt32 kMaxCount = std::numeric_limits<SInt32>::max();
    mTimeoutCounter = static_cast<SInt32>(inTimeoutLimit > kMaxCount ? kMaxCount : inTimeoutLimit);
    mResetTimer = false;
  }
  if (mTimeoutCounter > 0) {
    // Stops at 0 instead of running negative: only "> 0" is ever asked, and
    // a long slice must not wrap the counter back to positive.
    const UInt32 remaining = static_cast<UInt32>(mTimeoutCounter);
    mTimeoutCounter =
        inFramesToProcess >= remaining ? 0 : static_cast<SInt32>(remaining - inFramesToProcess);
    ioSilence = false;
  }
}

// ---- construction ---------------------------------------------------------------

AUEffectBase::AUEffectBase(ComponentInstance inInstance, bool inProcessesInPlace)
    : AUBase(inInstance, 1, 1), mProcessesInPlace(inProcessesInPlace) {}

AUEffectBase::~AUEffectBase() { AUEffectBase::Cleanup(); }

// ---- lifecycle --------------------------------------------------------------------

OSStatus AUEffectBase::Initialize() {
  const UInt32 inputChannels = GetInput(0)->GetStreamFormat().mChannelsPerFrame;
  const UInt32 outputChannels = GetOutput(0)->GetStreamFormat().mChannelsPerFrame;
  // The configuration table speaks 16-bit counts; a count beyond them would
  // wrap onto a small one and pass the check with far more channels than
  // kernels or buffers to match.
  constexpr UInt32 kMaxChannels = std::numeric_limits<SInt16>::max();
  if (inputChannels > kMaxChannels || outputChannels > kMaxChannels)
    return kAudioUnitErr_FormatNotSupported;
  const SInt16 in = static_cast<SInt16>(inputChannels);
  const SInt16 out = static_cast<SInt16>(outputChannels);

  const AUChannelInfo* configs = nullptr;
  const UInt32 numConfigs = SupportedNumChannels(&configs);
  if (numConfigs > 0 && configs != nullptr) {
    bool matched = false;
    for (UInt32 i = 0; i < numConfigs && !matched; ++i)
      matched = ChannelInfoMatches(configs[i], in, out);
    if (!matched) return kAudioUnitErr_FormatNotSupported;
  } else if (out != in || out == 0) {
    return kAudioUnitErr_FormatNotSupported;
  }

  mInput0 = GetInput(0);
  mOutput0 = GetOutput(0);
  MaintainKernels();
  return noErr;
}

void AUEffectBase::Cleanup() {
  mKernelList.clear();
  mInput0 = nullptr;
  mOutput0 = nullptr;
  // Nothing left to reset; new kernels start clean.
  mResetPending.store(false, std::memory_order_relaxed);
}

OSStatus AUEffectBase::Reset(AudioUnitScope inScope, AudioUnitElement inElement) {
  mResetPending.store(false, std::memory_order_relaxed);
  for (auto& kernel : mKernelList)
    if (kernel) kernel->Reset();
  return AUBase::Reset(inScope, inElement);
}

void AUEffectBase::MaintainKernels() {
  const UInt32 nChannels = GetNumberOfChannels();
  if (mKernelList.size() < nChannels) {
    mKernelList.reserve(nChannels);
    while (mKernelList.size() < nChannels) mKernelList.emplace_back(NewKernel());
  } else {
    while (mKernelList.size() > nChannels) mKernelList.pop_back();
  }
  for (UInt32 i = 0; i < nChannels; ++i) {
    if (AUKernelBase* kernel = mKernelList[i].get()) {
      kernel->SetLastKernel(i == nChannels - 1);
      kernel->SetChannelNum(i);
    }
  }
}

// ---- formats -------------------------------------------------------------------------

bool AUEffectBase::StreamFormatWritable(AudioUnitScope, AudioUnitElement) {
  return !IsInitialized();
}

OSStatus AUEffectBase::ChangeStreamFormat(AudioUnitScope inScope, AudioUnitElement inElement,
                                          const CAStreamBasicDescription& inPrevFormat,
                                          const CAStreamBasicDescription& inNewFormat) {
  const OSStatus result =
      AUBase::ChangeStreamFormat(inScope, inElement, inPrevFormat, inNewFormat);
  // Hosts re-read parameter ranges that follow the sample rate.
  if (result == noErr && GetParamHasSampleRateDependency() &&
      inPrevFormat.mSampleRate != inNewFormat.mSampleRate)
    PropertyChanged(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0);
  return result;
}

UInt32 AUEffectBase::GetNumberOfChannels() {
  return Output0()->GetStreamFormat().mChannelsPerFrame;
}

Float64 AUEffectBase::GetSampleRate() { return Output0()->GetStreamFormat().mSampleRate; }

// ---- parameters --------------------------------------------------------------------------

AudioUnitParameterValue AUEffectBase::GetParameter(AudioUnitParameterID inParamID) {
  return Globals()->GetParameter(inParamID);
}

void AUEffectBase::SetParameter(AudioUnitParameterID inParamID, AudioUnitParameterValue inValue) {
  Globals()->SetParameter(inParamID, inValue);
}

// ---- properties ---------------------------------------------------------------------------

OSStatus AUEffectBase::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                       AudioUnitElement inElement, UInt32& outDataSize,
                                       Boolean& outWritable) {
  if (inScope == kAudioUnitScope_Global) {
    switch (inID) {
      case kAudioUnitProperty_BypassEffect:
      case kAudioUnitProperty_InPlaceProcessing:
        outDataSize = sizeof(UInt32);
        outWritable = true;
        return noErr;
      default:
        break;
    }
  }
  return AUBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus AUEffectBase::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, void* outData) {
  if (inScope == kAudioUnitScope_Global) {
    switch (inID) {
      case kAudioUnitProperty_BypassEffect:
        WriteUInt32(outData, IsBypassEffect() ? 1 : 0);
        return noErr;
      case kAudioUnitProperty_InPlaceProcessing:
        WriteUInt32(outData, ProcessesInPlace() ? 1 : 0);
        return noErr;
      default:
        break;
    }
  }
  return AUBase::GetProperty(inID, inScope, inElement, outData);
}

OSStatus AUEffectBase::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                   AudioUnitElement inElement, const void* inData,
                                   UInt32 inDataSize) {
  if (inScope == kAudioUnitScope_Global) {
    switch (inID) {
      case kAudioUnitProperty_BypassEffect: {
        if (inData == nullptr || inDataSize < sizeof(UInt32))
          return kAudioUnitErr_InvalidPropertyValue;
        const bool bypass = ReadUInt32(inData) != 0;
        if (bypass != IsBypassEffect()) {
          // Leaving bypass: the kernels start from a clean state. The reset
          // runs on the render thread before it next processes, since a render
          // may be under way right now.
          if (!bypass && IsInitialized()) mResetPending.store(true, std::memory_order_release);
          SetBypassEffect(bypass);
        }
        return noErr;
      }
      case kAudioUnitProperty_InPlaceProcessing:
        // A shorter value would be read past its end; refused like bypass.
        if (inData == nullptr || inDataSize < sizeof(UInt32))
          return kAudioUnitErr_InvalidPropertyValue;
        SetProcessesInPlace(ReadUInt32(inData) != 0);
        return noErr;
      default:
        break;
    }
  }
  return AUBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
}

void AUEffectBase::SetBypassEffect(bool inFlag) { mBypassEffect = inFlag; }

// ---- rendering -------------------------------------------------------------------------------

void AUEffectBase::RunPendingReset() {
  if (mResetPending.load(std::memory_order_relaxed) &&
      mResetPending.exchange(false, std::memory_order_acquire))
    Reset(kAudioUnitScope_Global, 0);
}

OSStatus AUEffectBase::Render(AudioUnitRenderActionFlags& ioActionFlags,
                              const AudioTimeStamp& inTimeStamp, UInt32 inNumberFrames) {
  CheckRenderSide();
  if (mInput0 != nullptr ? !mInput0->IsActive() : !HasInput(0)) return kAudioUnitErr_NoConnection;

  AUOutputElement* theOutput = Output0();
  AUInputElement* theInput = Input0();
  OSStatus result = theInput->PullInput(ioActionFlags, inTimeStamp, 0, inNumberFrames);
  if (result != noErr) return result;

  RunPendingReset();

  // Each flag is read once, so a change from another thread takes effect
  // whole at the next call instead of halfway through this one.
  const bool inPlace = ProcessesInPlace();
  const bool bypass = ShouldBypassEffect();

  if (inPlace) theOutput->SetBufferList(theInput->GetBufferList());

  if (bypass) {
    // In place the output already is the input.
    if (!inPlace) theInput->CopyBufferContentsTo(theOutput->GetBufferList());
  } else {
    AudioBufferList& inputList = theInput->GetBufferList();
    AudioBufferList& outputList = theOutput->GetBufferList();
    ParameterEventList& events = GetParamEventList();
    if (events.empty()) {
      result = ProcessBufferLists(ioActionFlags, inputList, outputList, inNumberFrames);
    } else {
      // The slices advance the lists' data pointers; put them back for the
      // whole call afterwards.
      ScheduledSliceParams params{&ioActionFlags, &inputList, &outputList};
      result = ProcessForScheduledParams(events, inNumberFrames, &params);
      OffsetBuffers(inputList, -static_cast<SInt64>(inNumberFrames));
      SetBufferSizes(inputList, inNumberFrames);
      OffsetBuffers(outputList, -static_cast<SInt64>(inNumberFrames));
      SetBufferSizes(outputList, inNumberFrames);
    }
  }

  if ((ioActionFlags & kAudioUnitRenderAction_OutputIsSilence) && !inPlace)
    AUBufferList::ZeroBuffer(theOutput->GetBufferList());

  return result;
}

OSStatus AUEffectBase::ProcessScheduledSlice(void* inUserData, UInt32 /*inStartFrameInBuffer*/,
                                             UInt32 inSliceFramesToProcess,
                                             UInt32 /*inTotalBufferFrames*/) {
  // The slices arrive in order and cover the call, so each continues where
  // the previous one ended.
  auto& params = *static_cast<ScheduledSliceParams*>(inUserData);
  SetBufferSizes(*params.inputBufferList, inSliceFramesToProcess);
  SetBufferSizes(*params.outputBufferList, inSliceFramesToProcess);

  const OSStatus result = ProcessBufferLists(*params.actionFlags, *params.inputBufferList,
                                             *params.outputBufferList, inSliceFramesToProcess);

  OffsetBuffers(*params.inputBufferList, inSliceFramesToProcess);
  OffsetBuffers(*params.outputBufferList, inSliceFramesToProcess);
  return result;
}

OSStatus AUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                          const AudioBufferList& inBuffer,
                                          AudioBufferList& outBuffer, UInt32 inFramesToProcess) {
  CheckRenderSide();
  const bool inputSilent = IsInputSilent(ioActionFlags, inFramesToProcess);
  ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;

  // Kernels beyond what both lists carry have no samples to work on; a
  // configuration with fewer input than output channels must not read or
  // write past the lists.
  size_t nKernels = mKernelList.size();
  if (inBuffer.mNumberBuffers == 1) {
    // One buffer: interleaved, or a single channel.
    const UInt32 stride = inBuffer.mBuffers[0].mNumberChannels;
    if (outBuffer.mNumberBuffers == 0 || outBuffer.mBuffers[0].mNumberChannels != stride)
      nKernels = 0;
    else if (nKernels > stride)
      nKernels = stride;
    const float* source = static_cast<const float*>(inBuffer.mBuffers[0].mData);
    float* destination = static_cast<float*>(outBuffer.mBuffers[0].mData);
    for (size_t i = 0; i < nKernels; ++i) {
      AUKernelBase* kernel = mKernelList[i].get();
      if (kernel == nullptr) continue;
      bool silence = inputSilent;
      kernel->Process(source + i, destination + i, inFramesToProcess, stride, silence);
      if (!silence) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
    }
  } else {
    if (nKernels > inBuffer.mNumberBuffers) nKernels = inBuffer.mNumberBuffers;
    if (nKernels > outBuffer.mNumberBuffers) nKernels = outBuffer.mNumberBuffers;
    for (size_t i = 0; i < nKernels; ++i) {
      AUKernelBase* kernel = mKernelList[i].get();
      if (kernel == nullptr) continue;
      bool silence = inputSilent;
      kernel->Process(static_cast<const float*>(inBuffer.mBuffers[i].mData),
                      static_cast<float*>(outBuffer.mBuffers[i].mData), inFramesToProcess, 1,
                      silence);
      if (!silence) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
    }
  }
  return noErr;
}

bool AUEffectBase::IsInputSilent(AudioUnitRenderActionFlags inActionFlags,
                                 UInt32 inFramesToProcess) {
  bool silent = (inActionFlags & kAudioUnitRenderAction_OutputIsSilence) != 0;
  // Sound only restarts the timeout, which does not need the limit: the two
  // questions and the conversion are for silent input alone.
  if (!silent) {
    mSilentTimeout.Process(inFramesToProcess, 0, silent);
    return silent;
  }

  const double seconds = GetLatency() + GetTailTime();
  const double frames = seconds * GetSampleRate();
  UInt32 timeoutFrames;
  if (!(frames > 0.0))  // also NaN
    timeoutFrames = 0;
  else if (frames >= 4294967295.0)
    timeoutFrames = std::numeric_limits<UInt32>::max();
  else
    timeoutFrames = static_cast<UInt32>(frames);

  mSilentTimeout.Process(inFramesToProcess, timeoutFrames, silent);
  return silent;
}
