#include "effect/KestNotificationObserver.h"

#include <atomic>
#include <array>
#include <cstdint>

#include "effect/KestSelection.h"
#include "effect/ModulationState.h"

namespace {

CFStringRef KestNotificationName() { return CFSTR("Kest Level Changed Notification"); }

// Set once any registration went through the centre, so unloading never opens
// a bus connection just to remove nothing.
std::atomic<bool> sCenterUsed{false};

CFNotificationCenterRef KestCenter() {
  sCenterUsed.store(true);
  return CFNotificationCenterGetDistributedCenter();
}

// "kest" stands for any sender.
const void* KestObject(CFStringRef object) {
  if (object == nullptr || CFEqual(object, CFSTR("kest"))) return nullptr;
  return object;
}

// The key names as immortal strings, built once.
CFStringRef KestKeyString(int32_t index) {
  static const std::array<CFStringRef, kKestKeyCount> keys = [] {
    std::array<CFStringRef, kKestKeyCount> made{};
    for (int32_t i = 0; i < kKestKeyCount; ++i) made[i] = CFStringMakeConstantString(kKestKeyNames[i]);
    return made;
  }();
  return keys[index];
}

}  // namespace

void myCallback(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef userInfo) {
  double level = 0.0;
  CFTypeRef symbol = nullptr;
  if (userInfo != nullptr && CFGetTypeID(userInfo) == CFDictionaryGetTypeID()) {
    CFTypeRef newLevel = CFDictionaryGetValue(userInfo, CFSTR("New Level"));
    // Any number type converts, even with loss; anything else counts as 0.
    if (newLevel != nullptr && CFGetTypeID(newLevel) == CFNumberGetTypeID()) {
      double read = 0.0;
      CFNumberGetValue(static_cast<CFNumberRef>(newLevel), kCFNumberDoubleType, &read);
      level = read;
    }
    symbol = CFDictionaryGetValue(userInfo, CFSTR("Kest Symbol"));
  }

  KestSelection selection;
  if (!SelectKest(kPresetDefaultOffset, kPresetDefaultIndexX.load(std::memory_order_relaxed), &selection)) return;
  const double posted = level;
  level *= selection.scale;

  // Every level notification re-asserts the preset's mode, matching or not.
  ReassertPresetMode(selection.mode);

  if (selection.keyIndex < 0) return;
  if (symbol == nullptr || !CFEqual(symbol, KestKeyString(selection.keyIndex))) return;
  // Only a level that moves the factors is reported as applied.
  if (IsMappableLevel(level)) levelX.store(posted, std::memory_order_relaxed);
  if (selection.keyIndex <= kKestLastPeakKey)
    setGainFrequency(level);
  else
    setGainFrequencyBS(level);
}

void AddKestNotificationObserverX() {
  CFNotificationCenterAddObserver(KestCenter(), nullptr, myCallback, KestNotificationName(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
}

void AddKestNotificationObserver(const void* observer, CFStringRef object) {
  CFNotificationCenterAddObserver(KestCenter(), observer, myCallback, KestNotificationName(), KestObject(object),
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
}

void RemoveKestNotificationObserverX() {
  CFNotificationCenterRemoveObserver(KestCenter(), nullptr, KestNotificationName(), nullptr);
}

void RemoveKestNotificationObserver(const void* observer, CFStringRef object) {
  CFNotificationCenterRemoveObserver(KestCenter(), observer, KestNotificationName(), KestObject(object));
}

void RemoveObserverForAllKestX() { CFNotificationCenterRemoveEveryObserver(KestCenter(), nullptr); }

void RemoveObserverForAllKest(const void* observer) {
  CFNotificationCenterRemoveEveryObserver(KestCenter(), observer);
}

// Registrations must not outlive the code they call: when the shared object
// holding this listener is unloaded, take back every registration of
// myCallback first.
__attribute__((destructor)) static void RemoveKestRegistrationsAtUnload() {
  if (!sCenterUsed.load()) return;
  QelvoNotificationCenterRemoveCallback(CFNotificationCenterGetDistributedCenter(), myCallback);
}
