// Calls into other units of the host: read a property of a unit, render a
// unit, attach or find the object behind a component instance, and get the
// component description an instance was opened under. They go through one
// table of operations that whoever manages component instances installs (the
// component loader, a host adapter, or a test that wires units together in
// one process). The component loader installs its own table when the runtime
// is loaded (platform/ComponentLoader.h); a test may install a fake and put
// the previous table back. With no table every call fails with paramErr
// (storage: null).
#pragma once

#include "platform/AudioTypes.h"
#include "platform/RuntimeApi.h"

QELVO_RUNTIME_API_BEGIN

// Each operation carries the thread of the call it serves (below).
struct AudioUnitHostOps {
  // *ioDataSize: room in outData on entry, bytes written on return.
  OSStatus (*getProperty)(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                          AudioUnitElement inElement, void* outData, UInt32* ioDataSize);
  // The unit may replace the data pointers in ioData with its own buffers.
  OSStatus (*render)(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                     const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                     UInt32 inNumberFrames, AudioBufferList* ioData);
  // The object attached to the instance; first argument of its direct render entry.
  void* (*getInstanceStorage)(ComponentInstance inInstance);
  // Attaches the object a unit's open created to the instance.
  OSStatus (*setInstanceStorage)(ComponentInstance inInstance, void* inStorage);
  // The description the instance was opened under, or a component lookup error.
  OSErr (*getComponentInfo)(ComponentInstance inInstance, ComponentDescription* outDesc);
};

// [control] Installs the table (null: none) and returns the previous one. The table is
// not copied and must outlive its use. Install before any unit calls out;
// the render thread reads the table without a lock.
const AudioUnitHostOps* SetAudioUnitHostOps(const AudioUnitHostOps* inOps);
// [any]
const AudioUnitHostOps* GetAudioUnitHostOps();

// [control] A property of another unit; [any] for the values a unit reads
// by loading atomics (the modulation report, the identity).
OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, UInt32* ioDataSize);
// [render] Renders another unit (an input's source), or a unit a host drives.
OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData);
// [any] The object behind an instance (the source of a connected input).
void* GetComponentInstanceStorage(ComponentInstance inInstance);
// [control] While the unit opens. paramErr when no table keeps storage; the
// open that asked then fails.
OSStatus SetComponentInstanceStorage(ComponentInstance inInstance, void* inStorage);
// [control] The component description (type, subtype, manufacturer, flags,
// mask) the instance was opened under; paramErr without a table or an
// instance.
OSErr GetComponentInfo(ComponentInstance inInstance, ComponentDescription* outDesc);

QELVO_RUNTIME_API_END
