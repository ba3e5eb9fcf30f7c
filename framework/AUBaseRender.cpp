// The render path: checks, observers, the output bus and scheduled parameters.
// Everything here runs on the host's render thread: no allocation, lock, log
// or system call.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/AUBase.h"
#include "utility/CAFloatingPointMode.h"

namespace {
// Offset 16 of the event, read as signed whatever the event's kind: a ramp's
// start offset, or an immediate event's offset.
SInt32 EventOffset(const AudioUnitParameterEvent& event) {
  SInt32 offset;
  static_assert(sizeof(event.eventValues.ramp.startBufferOffset) == sizeof(offset));
  std::memcpy(&offset, &event.eventValues.ramp.startBufferOffset, sizeof(offset));
  return offset;
}

bool IsImmediate(const AudioUnitParameterEvent& event) {
  return event.eventType == kParameterEvent_Immediate;
}

// A ramp's end offset, as a 32-bit signed sum that wraps like the processor's.
SInt32 RampEnd(const AudioUnitParameterEvent& event) {
  return static_cast<SInt32>(static_cast<UInt32>(EventOffset(event)) +
                             event.eventValues.ramp.durationInFrames);
}

// The values an event would store: the immediate value, or both ends of a ramp.
bool HasFiniteValues(const AudioUnitParameterEvent& event) {
  if (IsImmediate(event)) return std::isfinite(event.eventValues.immediate.value);
  return std::isfinite(event.eventValues.ramp.startValue) && std::isfinite(event.eventValues.ramp.endValue);
}

// A caller's list with no buffers has no first data pointer to look at.
bool HasCallerData(const AudioBufferList& ioData) {
  return ioData.mNumberBuffers > 0 && ioData.mBuffers[0].mData != nullptr;
}
}  // namespace

OSStatus AUBase::DoRender(AudioUnitRenderActionFlags& ioActionFlags,
                          const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                          UInt32 inNumberFrames, AudioBufferList& ioData) {
  // A second render of this unit at once (or one during initialize or
  // uninitialize) would share buffers, kernels and the event list; refused
  // before anything is touched, and not recorded.
  AUCallScope render(mRenderOwner);
  if (!render.Entered()) return kQelvoErr_UnitBusy;
  // Restores the register on every way out, thrown statuses and other
  // exceptions included.
  CADenormalsAreZeroScope denormalsAreZero;
  try {
    if (!IsInitialized()) throw OSStatus(kAudioUnitErr_Uninitialized);
    if (inNumberFrames > GetMaxFramesPerSlice())
      throw OSStatus(kAudioUnitErr_TooManyFramesToProcess);

    AUOutputElement* output = GetOutput(inBusNumber);
    if (output->GetStreamFormat().NumberChannelStreams() != ioData.mNumberBuffers)
      throw OSStatus(paramErr);

    if (mWantsRenderThreadID) mRenderThreadID = pthread_self();

    mRenderCallbacks.update();
    // Observers get their own flags word; what they do to it stays with them.
    AudioUnitRenderActionFlags preFlags = ioActionFlags | kAudioUnitRenderAction_PreRender;
    for (const RenderCallback& rc : mRenderCallbacks)
      rc.mRenderNotify(rc.mRenderNotifyRefCon, &preFlags, &inTimeStamp, inBusNumber,
                       inNumberFrames, &ioData);

    const OSStatus status =
        DoRenderBus(ioActionFlags, inTimeStamp, inBusNumber, output, inNumberFrames, ioData);

    AudioUnitRenderActionFlags postFlags = ioActionFlags | kAudioUnitRenderAction_PostRender;
    if (SetRenderError(status) != noErr) postFlags |= kAudioUnitRenderAction_PostRenderError;
    for (const RenderCallback& rc : mRenderCallbacks)
      rc.mRenderNotify(rc.mRenderNotifyRefCon, &postFlags, &inTimeStamp, inBusNumber,
                       inNumberFrames, &ioData);

    // Events belong to the render they were scheduled for; clear() keeps the room.
    if (!mParamList.empty()) mParamList.clear();
    return status;
  } catch (OSStatus err) {
    // The events stay for the next call; no further observer is told.
    return SetRenderError(err);
  }
}

OSStatus AUBase::DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                             const AudioTimeStamp& inTimeStamp, UInt32 inBusNumber,
                             AUOutputElement* theOutput, UInt32 inNumberFrames,
                             AudioBufferList& ioData) {
  const bool callerHasData = HasCallerData(ioData);
  // With several outputs, each renders into its own memory and is copied out.
  if (callerHasData && Outputs().GetNumberOfElements() <= 1)
    theOutput->SetBufferList(ioData);
  else
    theOutput->PrepareBuffer(inNumberFrames);

  const OSStatus status = RenderBus(ioActionFlags, inTimeStamp, inBusNumber, inNumberFrames);
  if (status != noErr) return status;

  if (callerHasData) {
    // Copies nothing when the output already is the caller's memory; matters
    // when the render pointed the output elsewhere (in-place processing).
    theOutput->CopyBufferContentsTo(ioData);
    theOutput->InvalidateBufferList();
  } else {
    theOutput->CopyBufferListTo(ioData);
  }
  return noErr;
}

OSStatus AUBase::RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                           const AudioTimeStamp& inTimeStamp, UInt32 /*inBusNumber*/,
                           UInt32 inNumberFrames) {
  CheckRenderSide();
  if (NeedsToRender(inTimeStamp.mSampleTime))
    return Render(ioActionFlags, inTimeStamp, inNumberFrames);
  return noErr;
}

bool AUBase::NeedsToRender(Float64 inSampleTime) {
  // Exact comparison on purpose: only a repeat of the very same time is skipped.
  const bool needsToRender = inSampleTime != mLastRenderedSampleTime;
  mLastRenderedSampleTime = inSampleTime;
  return needsToRender;
}

OSStatus AUBase::SetRenderError(OSStatus inRenderError) {
  if (inRenderError != noErr && mLastRenderError == noErr) {
    mLastRenderError = inRenderError;
    PropertyChanged(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0);
  }
  return inRenderError;
}

void AUBase::SetWantsRenderThreadID(bool inFlag) {
  if (inFlag == mWantsRenderThreadID) return;
  mWantsRenderThreadID = inFlag;
  if (!inFlag) mRenderThreadID = pthread_t{};
}

OSStatus AUBase::ScheduleParameter(const AudioUnitParameterEvent* inParameterEvent,
                                   UInt32 inNumEvents) {
  // A batch with a value that is not finite is refused whole, before any of
  // it is applied or kept.
  for (UInt32 i = 0; i < inNumEvents; ++i)
    if (!HasFiniteValues(inParameterEvent[i])) return kAudioUnitErr_InvalidPropertyValue;
  // The event list belongs to the render side.
  AUCallScope render(mRenderOwner);
  if (!render.Entered()) return kQelvoErr_UnitBusy;
  for (UInt32 i = 0; i < inNumEvents; ++i) {
    const AudioUnitParameterEvent& event = inParameterEvent[i];
    // Immediate changes are in effect before the render starts; a thrown
    // status ends the loop with the earlier events kept.
    if (IsImmediate(event)) {
      const OSStatus result = SetParameter(event.parameter, event.scope, event.element,
                                           event.eventValues.immediate.value,
                                           event.eventValues.immediate.bufferOffset);
      if (result == kQelvoErr_UnitBusy) return result;
    } else if (const OSStatus result = AddRampedParameter(event); result != noErr) {
      return result;
    }
    mParamList.push_back(event);
  }
  return noErr;
}

OSStatus AUBase::AddRampedParameter(const AudioUnitParameterEvent& event) {
  // An invalid scope or a missing element is the render's to report, as before.
  if (event.scope >= kNumScopes) return noErr;
  AUElement* element = GetElement(event.scope, event.element);
  if (element == nullptr || element->UsesIndexedParameters() || element->HasParameter(event.parameter))
    return noErr;
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  // Stored as if for a slice at offset 0; the render stores it again for
  // each slice it takes part in.
  element->SetScheduledEvent(event.parameter, event, 0, 0);
  return noErr;
}

bool AUBase::SortParameterEventList(const AudioUnitParameterEvent& ev1,
                                    const AudioUnitParameterEvent& ev2) {
  return EventOffset(ev1) < EventOffset(ev2);
}

OSStatus AUBase::ProcessForScheduledParams(ParameterEventList& inParamList,
                                           UInt32 inFramesToProcess, void* inUserData) {
  CheckRenderSide();
  // In place and unstable: std::sort does not allocate.
  std::sort(inParamList.begin(), inParamList.end(), SortParameterEventList);

  SInt32 framesRemaining = static_cast<SInt32>(inFramesToProcess);
  UInt32 sliceStart = 0;
  OSStatus status = noErr;

  while (framesRemaining > 0) {
    // The slice ends at the first event offset or ramp end strictly inside it.
    UInt32 sliceEnd = inFramesToProcess;
    for (const AudioUnitParameterEvent& event : inParamList) {
      const SInt32 offset = EventOffset(event);
      if (static_cast<SInt32>(sliceStart) < offset && offset < static_cast<SInt32>(sliceEnd)) {
        sliceEnd = static_cast<UInt32>(offset);
        break;
      }
      if (!IsImmediate(event)) {
        const SInt32 end = RampEnd(event);
        if (static_cast<SInt32>(sliceStart) < end && end < static_cast<SInt32>(sliceEnd))
          sliceEnd = static_cast<UInt32>(end);
      }
    }
    const UInt32 sliceFrames = sliceEnd - sliceStart;

    for (const AudioUnitParameterEvent& event : inParamList) {
      bool takesPart;
      if (IsImmediate(event)) {
        // Re-applied in every later slice; the latest offset is applied last.
        takesPart = event.eventValues.immediate.bufferOffset <= sliceStart;
      } else {
        const SInt32 offset = EventOffset(event);
        takesPart = offset < static_cast<SInt32>(sliceEnd) &&
                    static_cast<UInt32>(offset) + event.eventValues.ramp.durationInFrames >
                        sliceStart;
      }
      if (!takesPart) continue;
      AUElement* element = GetElement(event.scope, event.element);
      if (element == nullptr) continue;
      // Never adds an ID here: ScheduleParameter did that, off the render path.
      element->ApplyScheduledEvent(event.parameter, event, sliceStart, sliceFrames);
    }

    status = ProcessScheduledSlice(inUserData, sliceStart, sliceFrames, inFramesToProcess);
    if (status != noErr) break;

    framesRemaining -= static_cast<SInt32>(sliceFrames);
    sliceStart = sliceEnd;
  }
  return status;
}
