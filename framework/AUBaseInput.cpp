// Input sources of the unit: connections to other units and render callbacks.
#include "framework/AUBase.h"

// pending
OSStatus AUBase::SetConnection(const AudioUnitConnection&) { return kAudioUnitErr_InvalidProperty; }

// pending
OSStatus AUBase::SetInputCallback(UInt32, AudioUnitElement, AURenderCallback, void*) {
  return kAudioUnitErr_InvalidProperty;
}
