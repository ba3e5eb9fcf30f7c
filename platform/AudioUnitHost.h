// The host's calls into an open audio unit. Each packs its arguments into a
// component argument block (platform/ComponentCallBlock.h) and calls the
// unit's entry with its instance storage. A null instance answers paramErr,
// one that is not open badComponentInstance; everything else is the unit's
// answer. AudioUnitGetProperty and AudioUnitRender are declared with the
// other calls between units in platform/ComponentSeam.h.
#pragma once

#include "platform/AudioTypes.h"
#include "platform/ComponentLoader.h"
#include "platform/ComponentSeam.h"
#include "platform/RuntimeApi.h"

QELVO_RUNTIME_API_BEGIN

// [control] The unit's control side: initialize and uninitialize (no render
// may overlap them), property info and writes, reset, property listeners.
OSStatus AudioUnitInitialize(AudioUnit inUnit);
OSStatus AudioUnitUninitialize(AudioUnit inUnit);
OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, UInt32* outDataSize, Boolean* outWritable);
OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
// [any] Parameter values.
OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue);
OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               UInt32 inBufferOffsetInFrames);
// [control]
OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement);
OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                      AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
OSStatus AudioUnitRemovePropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                         AudioUnitPropertyListenerProc inProc);
OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                     AudioUnitPropertyListenerProc inProc, void* inProcRefCon);
// [any] Render observers: posted now, applied by the next render.
OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcRefCon);
OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcRefCon);
// [render] Events for the next render.
OSStatus AudioUnitScheduleParameters(AudioUnit inUnit, const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumParamEvents);

// [control] The component-level selectors: the unit's version, and whether
// it serves a selector (1) or not (0).
ComponentResult GetComponentVersion(ComponentInstance instance);
ComponentResult ComponentFunctionImplemented(ComponentInstance instance, SInt16 selector);

// [any] Calls the instance's entry with a block the caller built, for
// selectors that have no call of their own; the thread is the selector's.
ComponentResult QelvoCallComponentEntry(ComponentInstance instance, ComponentParameters* params);

QELVO_RUNTIME_API_END
