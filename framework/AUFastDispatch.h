// The direct entries a host may call instead of the component dispatch, after
// fetching their addresses through the fast-dispatch property: parameter
// reads and writes and rendering on time-critical threads. Each takes the
// unit's instance storage first and turns anything thrown into a status.
#pragma once

#include <new>

#include "platform/AudioTypes.h"

using AudioUnitGetParameterProc = OSStatus (*)(void* inComponentStorage, AudioUnitParameterID inID,
                                               AudioUnitScope inScope, AudioUnitElement inElement,
                                               AudioUnitParameterValue* outValue);
using AudioUnitSetParameterProc = OSStatus (*)(void* inComponentStorage, AudioUnitParameterID inID,
                                               AudioUnitScope inScope, AudioUnitElement inElement,
                                               AudioUnitParameterValue inValue,
                                               UInt32 inBufferOffsetInFrames);
using AudioUnitRenderFastProc = OSStatus (*)(void* inComponentStorage,
                                             AudioUnitRenderActionFlags* ioActionFlags,
                                             const AudioTimeStamp* inTimeStamp,
                                             UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                                             AudioBufferList* ioData);

// [any] The parameter entries; [render; initialized] the render entry.
OSStatus AudioUnitBaseGetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                   AudioUnitScope inScope, AudioUnitElement inElement,
                                   AudioUnitParameterValue* outValue);
OSStatus AudioUnitBaseSetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                   AudioUnitScope inScope, AudioUnitElement inElement,
                                   AudioUnitParameterValue inValue, UInt32 inBufferOffsetInFrames);
OSStatus AudioUnitBaseRender(void* inComponentStorage, AudioUnitRenderActionFlags* ioActionFlags,
                             const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                             UInt32 inNumberFrames, AudioBufferList* ioData);

// [any] Runs work and converts what it throws: an allocation failure gives
// memFullErr, a 32-bit status that status, a 16-bit status that status
// sign-extended, anything else -1.
template <class Work>
OSStatus CallReturningStatus(Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (OSStatus status) {
    return status;
  } catch (OSErr status) {
    return static_cast<OSStatus>(status);
  } catch (...) {
    return -1;
  }
}
