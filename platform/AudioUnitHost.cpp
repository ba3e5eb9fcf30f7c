// The host's calls into an open unit: one argument block each, in the order
// the unit's dispatch unpacks them.
#include "platform/AudioUnitHost.h"

#include "platform/LoaderInternal.h"

namespace {
template <class... Args>
OSStatus Call(ComponentInstance instance, SInt16 what, Args... args) {
  return QelvoCallInstance(instance, what, args...);
}
}  // namespace

OSStatus AudioUnitInitialize(AudioUnit inUnit) { return Call(inUnit, kAudioUnitInitializeSelect); }

OSStatus AudioUnitUninitialize(AudioUnit inUnit) { return Call(inUnit, kAudioUnitUninitializeSelect); }

OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, UInt32* outDataSize, Boolean* outWritable) {
  return Call(inUnit, kAudioUnitGetPropertyInfoSelect, inID, inScope, inElement, outDataSize, outWritable);
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
  return Call(inUnit, kAudioUnitSetPropertySelect, inID, inScope, inElement, inData, inDataSize);
}

OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue) {
  return Call(inUnit, kAudioUnitGetParameterSelect, inID, inScope, inElement, outValue);
}

OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               UInt32 inBufferOffsetInFrames) {
  return Call(inUnit, kAudioUnitSetParameterSelect, inID, inScope, inElement, inValue, inBufferOffsetInFrames);
}

OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement) {
  return Call(inUnit, kAudioUnitResetSelect, inScope, inElement);
}

OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                      AudioUnitPropertyListenerProc inProc, void* inProcRefCon) {
  return Call(inUnit, kAudioUnitAddPropertyListenerSelect, inID, inProc, inProcRefCon);
}

OSStatus AudioUnitRemovePropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                         AudioUnitPropertyListenerProc inProc) {
  return Call(inUnit, kAudioUnitRemovePropertyListenerSelect, inID, inProc);
}

OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                     AudioUnitPropertyListenerProc inProc, void* inProcRefCon) {
  return Call(inUnit, kAudioUnitRemovePropertyListenerWithUserDataSelect, inID, inProc, inProcRefCon);
}

OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcRefCon) {
  return Call(inUnit, kAudioUnitAddRenderNotifySelect, inProc, inProcRefCon);
}

OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcRefCon) {
  return Call(inUnit, kAudioUnitRemoveRenderNotifySelect, inProc, inProcRefCon);
}

OSStatus AudioUnitScheduleParameters(AudioUnit inUnit, const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumParamEvents) {
  return Call(inUnit, kAudioUnitScheduleParametersSelect, inParameterEvent, inNumParamEvents);
}

ComponentResult GetComponentVersion(ComponentInstance instance) { return Call(instance, kComponentVersionSelect); }

ComponentResult ComponentFunctionImplemented(ComponentInstance instance, SInt16 selector) {
  return Call(instance, kComponentCanDoSelect, selector);
}

ComponentResult QelvoCallComponentEntry(ComponentInstance instance, ComponentParameters* params) {
  if (instance == nullptr || params == nullptr) return paramErr;
  InstanceTarget target;
  if (!QelvoResolveInstance(instance, target)) return badComponentInstance;
  return target.entry(params, target.storage);
}
