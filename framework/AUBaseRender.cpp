// The render path: checks, observers, the output bus and scheduled parameters.
#include "framework/AUBase.h"

// pending
OSStatus AUBase::DoRender(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32, UInt32,
                          AudioBufferList&) {
  return kAudioUnitErr_Uninitialized;
}

// pending
OSStatus AUBase::DoRenderBus(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32,
                             AUOutputElement*, UInt32, AudioBufferList&) {
  return kAudioUnitErr_Uninitialized;
}

// pending
OSStatus AUBase::RenderBus(AudioUnitRenderActionFlags& ioActionFlags,
                           const AudioTimeStamp& inTimeStamp, UInt32, UInt32 inNumberFrames) {
  return Render(ioActionFlags, inTimeStamp, inNumberFrames);
}

// pending
bool AUBase::NeedsToRender(Float64) { return true; }

// pending
OSStatus AUBase::SetRenderError(OSStatus inRenderError) { return inRenderError; }

// pending
void AUBase::SetWantsRenderThreadID(bool inFlag) { mWantsRenderThreadID = inFlag; }

// pending
OSStatus AUBase::ScheduleParameter(const AudioUnitParameterEvent*, UInt32) { return noErr; }

// pending
OSStatus AUBase::ProcessForScheduledParams(ParameterEventList&, UInt32, void*) { return noErr; }

// pending
bool AUBase::SortParameterEventList(const AudioUnitParameterEvent&,
                                    const AudioUnitParameterEvent&) {
  return false;
}
