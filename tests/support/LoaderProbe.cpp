// The probe unit (see LoaderProbe.h). Built into a bundle by tests/loader.cmake.
#include "support/LoaderProbe.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/ComponentSeam.h"
#include "platform/Notifications.h"

#ifndef QELVO_PROBE_IDENTIFIER
#error "QELVO_PROBE_IDENTIFIER names the bundle the probe is built into"
#endif

namespace {

constexpr UInt32 kMaxFrames = 4096;
constexpr UInt32 kMaxChannels = 8;

std::atomic<UInt32> sNotifications{0};
std::atomic<UInt32> sOpens{0};
std::atomic<bool> sListening{false};

void Notified(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sNotifications; }

// Unloading must take the observer back, or the centre would call into
// unmapped code.
__attribute__((destructor)) void RemoveObserverAtUnload() {
  if (sListening) QelvoNotificationCenterRemoveCallback(CFNotificationCenterGetDistributedCenter(), Notified);
}

struct Listener {
  AudioUnitPropertyID id;
  AudioUnitPropertyListenerProc proc;
  void* refCon;
};

struct Probe {
  explicit Probe(ComponentInstance i) : instance(i), samples(kMaxFrames * kMaxChannels) {}

  ComponentInstance instance;
  ProbeCall last{};
  ProbeCounters counters{};
  std::map<std::tuple<UInt32, UInt32, UInt32>, std::vector<Byte>> properties;
  std::map<std::tuple<UInt32, UInt32, UInt32>, Float32> parameters;
  std::vector<Listener> listeners;
  ComponentInstance source = nullptr;
  std::vector<Float32> samples;
};

// Argument n (0: first in call order) of a block with count arguments.
intptr_t Arg(const ComponentParameters* p, unsigned count, unsigned n) {
  intptr_t word;
  std::memcpy(&word, reinterpret_cast<const Byte*>(p) + 8 + (count - 1 - n) * 8, sizeof word);
  return word;
}
template <class T>
T ArgAs(const ComponentParameters* p, unsigned count, unsigned n) {
  const intptr_t word = Arg(p, count, n);
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(word);
  } else if constexpr (std::is_same_v<T, Float32>) {
    const auto bits = static_cast<UInt32>(word);
    Float32 value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  } else {
    return static_cast<T>(word);
  }
}

void Record(Probe& probe, const ComponentParameters* p) {
  probe.last = ProbeCall{};
  probe.last.what = p->what;
  probe.last.paramSize = p->paramSize;
  probe.last.flags = p->flags;
  std::memcpy(probe.last.words, reinterpret_cast<const Byte*>(p) + 8, std::min<size_t>(p->paramSize, sizeof probe.last.words));
}

ProbeIdentity Identity(Probe& probe) {
  ProbeIdentity id{};
  id.storage = &probe;
  id.storageSeen = GetComponentInstanceStorage(probe.instance);
  id.instance = probe.instance;
  id.infoStatus = GetComponentInfo(probe.instance, &id.description);
  CFStringRef identifier = CFStringCreateWithCString(nullptr, QELVO_PROBE_IDENTIFIER, kCFStringEncodingUTF8);
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identifier);
  CFRelease(identifier);
  CFStringRef name = CFStringCreateWithCString(nullptr, "EditorViewFactory", kCFStringEncodingUTF8);
  CFStringRef type = CFStringCreateWithCString(nullptr, "bundle", kCFStringEncodingUTF8);
  CFURLRef url = CFBundleCopyResourceURL(bundle, name, type, nullptr);
  CFRelease(name);
  CFRelease(type);
  if (url != nullptr) {
    CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<uint8_t*>(id.editorViewPath), sizeof id.editorViewPath);
    CFRelease(url);
  }
  return id;
}

// Copies a value out the way a unit's dispatch does: size query with null data.
template <class T>
OSStatus Answer(const T& value, void* data, UInt32* size) {
  if (size == nullptr) return paramErr;
  if (data == nullptr) {
    *size = sizeof(T);
    return noErr;
  }
  const UInt32 n = std::min<UInt32>(*size, sizeof(T));
  std::memcpy(data, &value, n);
  *size = n;
  return noErr;
}

OSStatus GetProperty(Probe& probe, const ComponentParameters* p) {
  const auto id = ArgAs<UInt32>(p, 5, 0);
  const auto scope = ArgAs<UInt32>(p, 5, 1);
  const auto element = ArgAs<UInt32>(p, 5, 2);
  void* data = ArgAs<void*>(p, 5, 3);
  auto* size = ArgAs<UInt32*>(p, 5, 4);
  switch (id) {
    case kProbeProperty_LastCall: return Answer(probe.last, data, size);
    case kProbeProperty_Counters: {
      ProbeCounters counters = probe.counters;
      counters.notifications = sNotifications;
      counters.opens = sOpens;
      return Answer(counters, data, size);
    }
    case kProbeProperty_Identity: return Answer(Identity(probe), data, size);
    default: break;
  }
  Record(probe, p);
  const auto found = probe.properties.find({id, scope, element});
  if (found == probe.properties.end()) return kAudioUnitErr_InvalidProperty;
  if (size == nullptr) return paramErr;
  if (data == nullptr) {
    *size = static_cast<UInt32>(found->second.size());
    return noErr;
  }
  const UInt32 n = std::min<UInt32>(*size, static_cast<UInt32>(found->second.size()));
  std::memcpy(data, found->second.data(), n);
  *size = n;
  return noErr;
}

OSStatus SetProperty(Probe& probe, const ComponentParameters* p) {
  const auto id = ArgAs<UInt32>(p, 5, 0);
  const auto scope = ArgAs<UInt32>(p, 5, 1);
  const auto element = ArgAs<UInt32>(p, 5, 2);
  const auto* data = ArgAs<const Byte*>(p, 5, 3);
  const auto size = ArgAs<UInt32>(p, 5, 4);
  if (data == nullptr || size == 0) return paramErr;
  if (id == kProbeProperty_Listen) {
    if (!sListening.exchange(true)) {
      CFStringRef name = CFStringCreateWithCString(nullptr, kProbeNotificationName, kCFStringEncodingUTF8);
      CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), nullptr, Notified, name, nullptr,
                                      CFNotificationSuspensionBehaviorDeliverImmediately);
      CFRelease(name);
    }
    return noErr;
  }
  if (id == kProbeProperty_Source) {
    if (size != sizeof(ComponentInstance)) return paramErr;
    std::memcpy(&probe.source, data, sizeof probe.source);
    return noErr;
  }
  probe.properties[{id, scope, element}].assign(data, data + size);
  for (const Listener& l : probe.listeners)
    if (l.id == id) l.proc(l.refCon, probe.instance, id, scope, element);
  return noErr;
}

// Fills each buffer with parameter 0 of the global scope, times the source's
// samples when a source is connected.
OSStatus Render(Probe& probe, const ComponentParameters* p) {
  auto* flags = ArgAs<AudioUnitRenderActionFlags*>(p, 5, 0);
  const auto* stamp = ArgAs<const AudioTimeStamp*>(p, 5, 1);
  const auto frames = ArgAs<UInt32>(p, 5, 3);
  auto* list = ArgAs<AudioBufferList*>(p, 5, 4);
  if (stamp == nullptr || list == nullptr) return paramErr;
  if (frames > kMaxFrames || list->mNumberBuffers > kMaxChannels) return kAudioUnitErr_TooManyFramesToProcess;
  ++probe.counters.render;
  for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
    AudioBuffer& buffer = list->mBuffers[b];
    if (buffer.mData == nullptr) buffer.mData = probe.samples.data() + b * kMaxFrames;
    buffer.mDataByteSize = frames * sizeof(Float32);
  }
  if (probe.source != nullptr) {
    const OSStatus status = AudioUnitRender(probe.source, flags, stamp, 0, frames, list);
    if (status != noErr) return status;
  }
  const Float32 level = probe.parameters[{0, 0, 0}];
  for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
    auto* samples = static_cast<Float32*>(list->mBuffers[b].mData);
    for (UInt32 i = 0; i < frames; ++i) samples[i] = probe.source != nullptr ? samples[i] * level : level;
  }
  return noErr;
}

OSStatus Dispatch(Probe& probe, const ComponentParameters* p) {
  const auto argsNeeded = [&](unsigned n) { return p->paramSize >= n * 8; };
  switch (p->what) {
    case kAudioUnitGetPropertySelect:
      return argsNeeded(5) ? GetProperty(probe, p) : paramErr;
    default:
      Record(probe, p);
      break;
  }
  switch (p->what) {
    case kAudioUnitInitializeSelect: ++probe.counters.initialize; return noErr;
    case kAudioUnitUninitializeSelect: ++probe.counters.uninitialize; return noErr;
    case kAudioUnitGetPropertyInfoSelect: {
      if (!argsNeeded(5)) return paramErr;
      const auto found = probe.properties.find({ArgAs<UInt32>(p, 5, 0), ArgAs<UInt32>(p, 5, 1), ArgAs<UInt32>(p, 5, 2)});
      if (found == probe.properties.end()) return kAudioUnitErr_InvalidProperty;
      if (auto* size = ArgAs<UInt32*>(p, 5, 3)) *size = static_cast<UInt32>(found->second.size());
      if (auto* writable = ArgAs<Boolean*>(p, 5, 4)) *writable = true;
      return noErr;
    }
    case kAudioUnitSetPropertySelect: return argsNeeded(5) ? SetProperty(probe, p) : paramErr;
    case kAudioUnitGetParameterSelect: {
      if (!argsNeeded(4)) return paramErr;
      auto* value = ArgAs<Float32*>(p, 4, 3);
      if (value == nullptr) return paramErr;
      const auto found = probe.parameters.find({ArgAs<UInt32>(p, 4, 0), ArgAs<UInt32>(p, 4, 1), ArgAs<UInt32>(p, 4, 2)});
      if (found == probe.parameters.end()) return kAudioUnitErr_InvalidParameter;
      *value = found->second;
      return noErr;
    }
    case kAudioUnitSetParameterSelect:
      if (!argsNeeded(5)) return paramErr;
      probe.parameters[{ArgAs<UInt32>(p, 5, 0), ArgAs<UInt32>(p, 5, 1), ArgAs<UInt32>(p, 5, 2)}] = ArgAs<Float32>(p, 5, 3);
      return noErr;
    case kAudioUnitResetSelect: ++probe.counters.reset; return noErr;
    case kAudioUnitAddPropertyListenerSelect:
      if (!argsNeeded(3)) return paramErr;
      probe.listeners.push_back({ArgAs<UInt32>(p, 3, 0), ArgAs<AudioUnitPropertyListenerProc>(p, 3, 1), ArgAs<void*>(p, 3, 2)});
      return noErr;
    case kAudioUnitRemovePropertyListenerSelect:
    case kAudioUnitRemovePropertyListenerWithUserDataSelect: {
      const bool withData = p->what == kAudioUnitRemovePropertyListenerWithUserDataSelect;
      const unsigned n = withData ? 3 : 2;
      if (!argsNeeded(n)) return paramErr;
      std::erase_if(probe.listeners, [&](const Listener& l) {
        return l.id == ArgAs<UInt32>(p, n, 0) && l.proc == ArgAs<AudioUnitPropertyListenerProc>(p, n, 1) &&
               (!withData || l.refCon == ArgAs<void*>(p, n, 2));
      });
      return noErr;
    }
    case kAudioUnitRenderSelect: return argsNeeded(5) ? Render(probe, p) : paramErr;
    case kAudioUnitAddRenderNotifySelect:
    case kAudioUnitRemoveRenderNotifySelect: return argsNeeded(2) ? noErr : paramErr;
    case kAudioUnitScheduleParametersSelect: {
      if (!argsNeeded(2)) return paramErr;
      const auto* events = ArgAs<const AudioUnitParameterEvent*>(p, 2, 0);
      const auto count = ArgAs<UInt32>(p, 2, 1);
      for (UInt32 i = 0; events != nullptr && i < count; ++i)
        if (events[i].eventType == kParameterEvent_Immediate)
          probe.parameters[{events[i].parameter, events[i].scope, events[i].element}] = events[i].eventValues.immediate.value;
      return noErr;
    }
    case kComponentVersionSelect: return 0x00010203;
    case kComponentCanDoSelect: {
      if (!argsNeeded(1)) return paramErr;
      const auto asked = static_cast<SInt16>(Arg(p, 1, 0));
      return (asked >= kComponentVersionSelect && asked <= kComponentOpenSelect) ||
             (asked >= kAudioUnitInitializeSelect && asked <= kAudioUnitRemovePropertyListenerWithUserDataSelect &&
              asked != 8 && asked != 12 && asked != 13);
    }
    default: return badComponentSelector;
  }
}

}  // namespace

extern "C" OSStatus FilterEntry(ComponentParameters* params, void* storage) {
  if (params == nullptr) return paramErr;
  try {
    if (params->what == kComponentOpenSelect) {
      if (params->paramSize < 8) return paramErr;
      if (std::getenv(kProbeFailOpenVariable) != nullptr) return kProbeOpenFailure;
      auto* probe = new Probe(ArgAs<ComponentInstance>(params, 1, 0));
      const OSStatus status = SetComponentInstanceStorage(probe->instance, probe);
      if (status != noErr) {
        delete probe;
        return status;
      }
      ++sOpens;
      return noErr;
    }
    auto* probe = static_cast<Probe*>(storage);
    if (probe == nullptr) return paramErr;
    if (params->what == kComponentCloseSelect) {
      delete probe;
      return noErr;
    }
    return Dispatch(*probe, params);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (...) {
    return -1;
  }
}
