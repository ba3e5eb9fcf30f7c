// Property dispatch: the properties the framework owns, and the unit-level
// channel-layout operations.
#include "framework/AUBase.h"

// pending
OSStatus AUBase::DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement, UInt32& outDataSize,
                                         Boolean& outWritable) {
  return GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
}

// pending
OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, void* outData) {
  return GetProperty(inID, inScope, inElement, outData);
}

// pending
OSStatus AUBase::DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, const void* inData,
                                     UInt32 inDataSize) {
  return SetProperty(inID, inScope, inElement, inData, inDataSize);
}

// pending
OSStatus AUBase::DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                             AudioUnitElement inElement) {
  return RemovePropertyValue(inID, inScope, inElement);
}

// pending
UInt32 AUBase::GetChannelLayoutTags(AudioUnitScope, AudioUnitElement, AudioChannelLayoutTag*) {
  return 0;
}

// pending
UInt32 AUBase::GetAudioChannelLayout(AudioUnitScope, AudioUnitElement, AudioChannelLayout*,
                                     Boolean& outWritable) {
  outWritable = false;
  return 0;
}

// pending
OSStatus AUBase::SetAudioChannelLayout(AudioUnitScope, AudioUnitElement,
                                       const AudioChannelLayout*) {
  return kAudioUnitErr_InvalidProperty;
}

// pending
OSStatus AUBase::RemoveAudioChannelLayout(AudioUnitScope, AudioUnitElement) {
  return kAudioUnitErr_InvalidPropertyValue;
}
