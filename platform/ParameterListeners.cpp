// One process-wide registry of parameter listeners. Callbacks run under its
// lock, which is what lets disposal wait for a call in progress; the lock is
// recursive so a callback may set parameters or change registrations.
#include "platform/ParameterListeners.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/AudioUnitHost.h"

struct AUParameterListenerObject {
  AUParameterListenerProc proc;
  void* refCon;
};

namespace {

struct Registration {
  uint64_t id;
  AUParameterListenerRef listener;
  void* object;
  AudioUnitParameter parameter;
};

struct Registry {
  std::recursive_mutex lock;
  std::vector<AUParameterListenerRef> listeners;
  std::vector<Registration> registrations;
  uint64_t nextID = 1;
};

// Never destroyed: a listener may still be disposed during static destruction.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

bool SameParameter(const AudioUnitParameter& a, const AudioUnitParameter& b) {
  return a.mAudioUnit == b.mAudioUnit && a.mParameterID == b.mParameterID && a.mScope == b.mScope &&
         a.mElement == b.mElement;
}

bool Known(const Registry& registry, AUParameterListenerRef listener) {
  return listener != nullptr && std::find(registry.listeners.begin(), registry.listeners.end(), listener) !=
                                    registry.listeners.end();
}

}  // namespace

OSStatus QelvoParameterListenerCreate(AUParameterListenerProc inProc, void* inRefCon,
                                      AUParameterListenerRef* outListener) {
  if (inProc == nullptr || outListener == nullptr) return paramErr;
  Registry& registry = TheRegistry();
  auto* listener = new AUParameterListenerObject{inProc, inRefCon};
  std::lock_guard guard(registry.lock);
  registry.listeners.push_back(listener);
  *outListener = listener;
  return noErr;
}

OSStatus QelvoParameterListenerDispose(AUParameterListenerRef inListener) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (!Known(registry, inListener)) return paramErr;
  std::erase(registry.listeners, inListener);
  std::erase_if(registry.registrations, [&](const Registration& r) { return r.listener == inListener; });
  delete inListener;
  return noErr;
}

OSStatus QelvoParameterListenerAddParameter(AUParameterListenerRef inListener, void* inObject,
                                            const AudioUnitParameter* inParameter) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (!Known(registry, inListener) || inParameter == nullptr) return paramErr;
  for (const Registration& r : registry.registrations)
    if (r.listener == inListener && r.object == inObject && SameParameter(r.parameter, *inParameter)) return noErr;
  registry.registrations.push_back({registry.nextID++, inListener, inObject, *inParameter});
  return noErr;
}

OSStatus QelvoParameterListenerRemoveParameter(AUParameterListenerRef inListener, void* inObject,
                                               const AudioUnitParameter* inParameter) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  if (!Known(registry, inListener) || inParameter == nullptr) return paramErr;
  std::erase_if(registry.registrations, [&](const Registration& r) {
    return r.listener == inListener && r.object == inObject && SameParameter(r.parameter, *inParameter);
  });
  return noErr;
}

OSStatus AUParameterSet(AUParameterListenerRef inSendingListener, void* inSendingObject,
                        const AudioUnitParameter* inParameter, AudioUnitParameterValue inValue,
                        UInt32 inBufferOffsetInFrames) {
  if (inParameter == nullptr) return paramErr;
  const AudioUnitParameter parameter = *inParameter;  // the caller's record may go away in a callback
  const OSStatus status = AudioUnitSetParameter(parameter.mAudioUnit, parameter.mParameterID, parameter.mScope,
                                                parameter.mElement, inValue, inBufferOffsetInFrames);
  if (status != noErr) return status;

  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  // Callbacks may change the registrations: walk the ones present now and
  // skip any taken back meanwhile.
  std::vector<uint64_t> due;
  for (const Registration& r : registry.registrations) {
    if (!SameParameter(r.parameter, parameter)) continue;
    if (r.listener == inSendingListener && r.object == inSendingObject) continue;
    due.push_back(r.id);
  }
  for (uint64_t id : due) {
    const auto found = std::find_if(registry.registrations.begin(), registry.registrations.end(),
                                    [&](const Registration& r) { return r.id == id; });
    if (found == registry.registrations.end()) continue;
    const AUParameterListenerObject callee = *found->listener;
    void* const object = found->object;
    callee.proc(callee.refCon, object, &parameter, inValue);
  }
  return noErr;
}
