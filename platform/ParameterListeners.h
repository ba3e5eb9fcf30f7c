// Parameter listeners: clients of a unit (editor views, host tools) that want
// to hear when one of its parameters is set through AUParameterSet. A
// listener is a callback with its reference constant; it registers for any
// number of (object, parameter) pairs, the object being the client's own
// token (a control, say) that comes back with each call.
#pragma once

#include "platform/AudioTypes.h"
#include "platform/RuntimeApi.h"

QELVO_RUNTIME_API_BEGIN

struct AUParameterListenerObject;
using AUParameterListenerRef = AUParameterListenerObject*;
using AUParameterListenerProc = void (*)(void* inRefCon, void* inObject, const AudioUnitParameter* inParameter,
                                         AudioUnitParameterValue inValue);

// [control] paramErr for a null callback or out pointer.
OSStatus QelvoParameterListenerCreate(AUParameterListenerProc inProc, void* inRefCon,
                                      AUParameterListenerRef* outListener);
// [control] Takes back the listener's registrations and frees it. A call of it running
// on another thread is waited for; from inside its own call it is safe too.
OSStatus QelvoParameterListenerDispose(AUParameterListenerRef inListener);
// [control] A pair registered twice is called once. paramErr for an unknown listener
// or a null parameter.
OSStatus QelvoParameterListenerAddParameter(AUParameterListenerRef inListener, void* inObject,
                                            const AudioUnitParameter* inParameter);
OSStatus QelvoParameterListenerRemoveParameter(AUParameterListenerRef inListener, void* inObject,
                                               const AudioUnitParameter* inParameter);

// [control] Sets the parameter through AudioUnitSetParameter and, when the unit took
// it, calls every listener registered for that parameter with the value, in
// registration order, on this thread, except the sender's own registration
// (inSendingListener with inSendingObject; both may be null). Callbacks may
// set parameters and change registrations themselves, but must not wait for
// another thread that does. The unit's status; paramErr for a null parameter.
OSStatus AUParameterSet(AUParameterListenerRef inSendingListener, void* inSendingObject,
                        const AudioUnitParameter* inParameter, AudioUnitParameterValue inValue,
                        UInt32 inBufferOffsetInFrames);

QELVO_RUNTIME_API_END
