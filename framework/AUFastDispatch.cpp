#include "framework/AUFastDispatch.h"

#include "framework/AUBase.h"

OSStatus AudioUnitBaseGetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                   AudioUnitScope inScope, AudioUnitElement inElement,
                                   AudioUnitParameterValue* outValue) {
  return CallReturningStatus([&]() -> OSStatus {
    if (inComponentStorage == nullptr || outValue == nullptr) return paramErr;
    return static_cast<AUBase*>(inComponentStorage)->GetParameter(inID, inScope, inElement,
                                                                   *outValue);
  });
}

OSStatus AudioUnitBaseSetParameter(void* inComponentStorage, AudioUnitParameterID inID,
                                   AudioUnitScope inScope, AudioUnitElement inElement,
                                   AudioUnitParameterValue inValue, UInt32 inBufferOffsetInFrames) {
  return CallReturningStatus([&]() -> OSStatus {
    if (inComponentStorage == nullptr) return paramErr;
    return static_cast<AUBase*>(inComponentStorage)
        ->SetParameter(inID, inScope, inElement, inValue, inBufferOffsetInFrames);
  });
}

OSStatus AudioUnitBaseRender(void* inComponentStorage, AudioUnitRenderActionFlags* ioActionFlags,
                             const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                             UInt32 inNumberFrames, AudioBufferList* ioData) {
  return CallReturningStatus([&]() -> OSStatus {
    // A null unit is refused like the other missing arguments rather than
    // dereferenced on the render thread.
    if (inComponentStorage == nullptr || inTimeStamp == nullptr || ioData == nullptr)
      return paramErr;
    AudioUnitRenderActionFlags localFlags = 0;
    AudioUnitRenderActionFlags& flags = ioActionFlags != nullptr ? *ioActionFlags : localFlags;
    return static_cast<AUBase*>(inComponentStorage)
        ->DoRender(flags, *inTimeStamp, inOutputBusNumber, inNumberFrames, *ioData);
  });
}
