// Open component instances: a fixed table of records, each handed out as a
// handle that carries its slot and a generation count. A call checks the
// handle against the slot with atomic loads alone, so calls from a render
// thread never wait, and a closed handle stays refused after its slot is
// reused.
#include <atomic>
#include <mutex>
#include <utility>

#include "platform/LoaderInternal.h"

namespace {

constexpr size_t kMaxInstances = 4096;
constexpr unsigned kSlotBits = 12;
static_assert(kMaxInstances == size_t{1} << kSlotBits);
// In the top bits, where no user-space address of this platform has bits set,
// so a handle never equals a real pointer that a caller passes by mistake.
constexpr uint64_t kHandleTag = 0x7E11;
constexpr unsigned kTagShift = 48;
constexpr uint64_t kGenerationMask = (uint64_t{1} << (kTagShift - kSlotBits)) - 1;

struct InstanceSlot {
  // The live handle, 0 while the slot is free or closing down.
  std::atomic<uint64_t> handle{0};
  std::atomic<ComponentEntryProc> entry{nullptr};
  std::atomic<void*> storage{nullptr};
  // Guarded by sMutex.
  bool reserved = false;
  bool closing = false;
  uint64_t generation = 0;
  ComponentRecord* component = nullptr;
  void* library = nullptr;
};

std::mutex sMutex;
InstanceSlot sSlots[kMaxInstances];
size_t sOpen = 0;  // guarded by sMutex

uint64_t HandleValue(ComponentInstance instance) { return reinterpret_cast<uintptr_t>(instance); }

// The slot an instance handle names while it is live; null otherwise.
InstanceSlot* LiveSlot(ComponentInstance instance) {
  const uint64_t value = HandleValue(instance);
  if ((value >> kTagShift) != kHandleTag) return nullptr;
  InstanceSlot& slot = sSlots[value & (kMaxInstances - 1)];
  return slot.handle.load(std::memory_order_acquire) == value ? &slot : nullptr;
}

// Gives the slot back; answers the library load it held.
void* FreeSlot(InstanceSlot& slot) {
  std::lock_guard lock(sMutex);
  slot.handle.store(0, std::memory_order_release);
  slot.entry.store(nullptr, std::memory_order_relaxed);
  slot.storage.store(nullptr, std::memory_order_relaxed);
  slot.reserved = false;
  slot.component = nullptr;
  --sOpen;
  return std::exchange(slot.library, nullptr);
}

OSStatus LoaderSetStorage(ComponentInstance instance, void* storage) {
  InstanceSlot* slot = LiveSlot(instance);
  if (slot == nullptr) return instance == nullptr ? paramErr : badComponentInstance;
  slot->storage.store(storage, std::memory_order_release);
  return noErr;
}

void* LoaderGetStorage(ComponentInstance instance) {
  InstanceTarget target;
  return QelvoResolveInstance(instance, target) ? target.storage : nullptr;
}

OSErr LoaderGetComponentInfo(ComponentInstance instance, ComponentDescription* outDesc) {
  if (outDesc == nullptr) return paramErr;
  InstanceSlot* slot = LiveSlot(instance);
  if (slot == nullptr) return paramErr;
  ComponentRecord* component;
  {
    std::lock_guard lock(sMutex);
    component = slot->component;
  }
  // The description is fixed for the life of the process.
  if (component == nullptr || LiveSlot(instance) != slot) return paramErr;
  *outDesc = component->description;
  return noErr;
}

OSStatus LoaderGetProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                           AudioUnitElement element, void* outData, UInt32* ioDataSize) {
  return QelvoCallInstance(unit, kAudioUnitGetPropertySelect, id, scope, element, outData, ioDataSize);
}

OSStatus LoaderRender(AudioUnit unit, AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp* inTimeStamp,
                      UInt32 inOutputBusNumber, UInt32 inNumberFrames, AudioBufferList* ioData) {
  return QelvoCallInstance(unit, kAudioUnitRenderSelect, ioActionFlags, inTimeStamp, inOutputBusNumber,
                      inNumberFrames, ioData);
}

const AudioUnitHostOps kLoaderHostOps{&LoaderGetProperty, &LoaderRender, &LoaderGetStorage, &LoaderSetStorage,
                                      &LoaderGetComponentInfo};

// Behind the calls of ComponentSeam.h from the moment the runtime is loaded.
const bool sLoaderInstalled = [] {
  if (GetAudioUnitHostOps() == nullptr) SetAudioUnitHostOps(&kLoaderHostOps);
  return true;
}();

thread_local std::string tLastError;

}  // namespace

void QelvoSetLoaderError(std::string text) { tLastError = std::move(text); }
std::string QelvoComponentLoaderLastError() { return tLastError; }

const AudioUnitHostOps* QelvoComponentLoaderHostOps() { return &kLoaderHostOps; }

bool QelvoResolveInstance(ComponentInstance instance, InstanceTarget& target) {
  InstanceSlot* slot = LiveSlot(instance);
  if (slot == nullptr) return false;
  target.entry = slot->entry.load(std::memory_order_acquire);
  target.storage = slot->storage.load(std::memory_order_acquire);
  // Closed (and perhaps reopened) meanwhile: what was read may belong to another instance.
  return slot->handle.load(std::memory_order_acquire) == HandleValue(instance) && target.entry != nullptr;
}

OSStatus OpenAComponent(Component component, ComponentInstance* outInstance) {
  if (outInstance == nullptr) {
    QelvoSetLoaderError("no place for the instance");
    return paramErr;
  }
  *outInstance = nullptr;
  if (component == nullptr || !QelvoIsComponent(component)) {
    QelvoSetLoaderError("not a component of the loader");
    return invalidComponentID;
  }
  CFBundleObject* bundle = component->bundle;

  std::string error;
  void* entry = nullptr;
  void* library = QelvoBundleLoad(bundle, bundle->manifest.entry.c_str(), &entry, error);
  if (library == nullptr) {
    QelvoSetLoaderError(error);
    return kQelvoErr_ComponentLoadFailed;
  }

  InstanceSlot* slot = nullptr;
  uint64_t value = 0;
  {
    std::lock_guard lock(sMutex);
    for (InstanceSlot& candidate : sSlots) {
      if (!candidate.reserved) {
        slot = &candidate;
        break;
      }
    }
    if (slot != nullptr) {
      slot->reserved = true;
      slot->generation = (slot->generation + 1) & kGenerationMask;
      if (slot->generation == 0) slot->generation = 1;
      slot->component = component;
      slot->library = library;
      slot->storage.store(nullptr, std::memory_order_relaxed);
      slot->closing = false;
      slot->entry.store(reinterpret_cast<ComponentEntryProc>(entry), std::memory_order_relaxed);
      value = (kHandleTag << kTagShift) | (slot->generation << kSlotBits) | static_cast<uint64_t>(slot - sSlots);
      slot->handle.store(value, std::memory_order_release);
      ++sOpen;
    }
  }
  if (slot == nullptr) {
    QelvoBundleUnload(bundle, library);
    QelvoSetLoaderError("too many open instances (" + std::to_string(kMaxInstances) + ")");
    return memFullErr;
  }

  // No lock held: the unit's construction may open, find or close other components.
  auto* instance = reinterpret_cast<ComponentInstance>(static_cast<uintptr_t>(value));
  ComponentCallBlock<ComponentInstance> open(kComponentOpenSelect, instance);
  const OSStatus status = reinterpret_cast<ComponentEntryProc>(entry)(open.get(), nullptr);
  if (status != noErr) {
    QelvoBundleUnload(bundle, FreeSlot(*slot));
    QelvoSetLoaderError(bundle->manifest.name + ": open failed with status " + std::to_string(status));
    return status;
  }
  *outInstance = instance;
  return noErr;
}

OSStatus CloseComponent(ComponentInstance instance) {
  if (instance == nullptr) return paramErr;
  InstanceSlot* slot = nullptr;
  CFBundleObject* bundle = nullptr;
  {
    // Only one close gets past here, however many race for the instance.
    std::lock_guard lock(sMutex);
    slot = LiveSlot(instance);
    if (slot == nullptr || slot->closing) return badComponentInstance;
    slot->closing = true;
    bundle = slot->component->bundle;
  }

  // The instance stays valid while its unit is destroyed: listeners told of
  // changes during the close may still ask it.
  ComponentCallBlock<ComponentInstance> close(kComponentCloseSelect, instance);
  const OSStatus status = slot->entry.load(std::memory_order_acquire)(close.get(),
                                                                      slot->storage.load(std::memory_order_acquire));
  QelvoBundleUnload(bundle, FreeSlot(*slot));
  return status;
}

Component QelvoGetInstanceComponent(ComponentInstance instance) {
  InstanceSlot* slot = LiveSlot(instance);
  if (slot == nullptr) return nullptr;
  std::lock_guard lock(sMutex);
  return slot->handle.load(std::memory_order_relaxed) == HandleValue(instance) ? slot->component : nullptr;
}

size_t QelvoOpenInstanceCount() {
  std::lock_guard lock(sMutex);
  return sOpen;
}
