// Saved state and the current preset.
#include "framework/AUBase.h"

// pending
OSStatus AUBase::SaveState(CFPropertyListRef* outData) {
  if (outData != nullptr) *outData = nullptr;
  return kAudioUnitErr_InvalidProperty;
}

// pending
OSStatus AUBase::RestoreState(CFPropertyListRef) { return kAudioUnitErr_InvalidProperty; }

// pending
bool AUBase::SetAFactoryPresetAsCurrent(const AUPreset&) { return false; }

// pending
void AddNumToDictionary(CFMutableDictionaryRef, CFStringRef, SInt32) {}
