// The level listener: receives "Kest Level Changed Notification" from the
// distributed centre, picks the one measure the current preset follows, re-
// asserts the preset's mode and maps a matching level onto the modulation
// state. It has no state of its own. When the shared object holding it is
// unloaded, every registration of myCallback is removed first.
#pragma once

#include "platform/Notifications.h"

// [delivery] The notification callback; uses only userInfo ("New Level",
// "Kest Symbol").
void myCallback(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
                CFDictionaryRef userInfo);

// [control] Registrations with the distributed centre, all for "Kest Level
// Changed Notification" with myCallback. An object equal to "kest" (or none)
// means: from any sender. The unit's constructor adds one; nothing removes
// them but the unload of the shared object.
void AddKestNotificationObserverX();
void AddKestNotificationObserver(const void* observer, CFStringRef object);
void RemoveKestNotificationObserverX();
void RemoveKestNotificationObserver(const void* observer, CFStringRef object);
// Every name and object of the observer.
void RemoveObserverForAllKestX();
void RemoveObserverForAllKest(const void* observer);
