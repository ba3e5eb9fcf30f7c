// The distributed notification centre: notifications posted by any process on
// the session bus reach the observers registered in this one. Wire format in
// docs/notifications.md.
#pragma once

#include <cstdint>
#include <string>

#include "platform/RuntimeApi.h"
#include "platform/Values.h"

QELVO_RUNTIME_API_BEGIN

using CFNotificationCallback = void (*)(CFNotificationCenterRef center, void* observer, CFStringRef name,
                                        const void* object, CFDictionaryRef userInfo);

using CFNotificationSuspensionBehavior = CFIndex;
enum : CFNotificationSuspensionBehavior {
  CFNotificationSuspensionBehaviorDrop = 1,
  CFNotificationSuspensionBehaviorCoalesce = 2,
  CFNotificationSuspensionBehaviorHold = 3,
  CFNotificationSuspensionBehaviorDeliverImmediately = 4,
};

// The one centre of this process; the bus connection opens on first use.
CFNotificationCenterRef CFNotificationCenterGetDistributedCenter();

// name or object null: any; an object is a string. Observers are called on the
// centre's delivery thread, in registration order, never on a render thread.
// Every registration counts: the same one added twice is called twice. The
// suspension behaviour is accepted and ignored (delivery is always immediate).
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callBack, CFStringRef name, const void* object,
                                     CFNotificationSuspensionBehavior suspensionBehavior);
// Removal waits for an in-flight call of the removed observer to finish
// (except when called from that call itself). name or object null: any.
void CFNotificationCenterRemoveObserver(CFNotificationCenterRef center, const void* observer, CFStringRef name,
                                        const void* object);
void CFNotificationCenterRemoveEveryObserver(CFNotificationCenterRef center, const void* observer);
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void* object,
                                          CFDictionaryRef userInfo, Boolean deliverImmediately);

// ---- extensions of this runtime -------------------------------------------------

// Removes every registration whose callback is callBack, whatever its
// observer; a loadable object calls it before it is unloaded.
void QelvoNotificationCenterRemoveCallback(CFNotificationCenterRef center, CFNotificationCallback callBack);

// Posts like CFNotificationCenterPostNotification but reports failure: 0 on
// success, else a negative errno value with a readable reason in *error
// (error may be null). Observers of this process get the notification even
// when the bus cannot be reached (then -ENOTCONN).
int QelvoNotificationCenterPost(CFNotificationCenterRef center, CFStringRef name, CFStringRef object,
                                CFDictionaryRef userInfo, std::string* error);

// Whether the centre is connected to the session bus right now; after the
// bus went away it reconnects by itself.
bool QelvoNotificationCenterIsConnected(CFNotificationCenterRef center);

// Notification signals this process has read from the bus, its own posts
// included (they come back when it observes them). For tests and
// diagnostics: it shows what the bus's match rules let through.
uint64_t QelvoNotificationCenterBusSignalCount(CFNotificationCenterRef center);

QELVO_RUNTIME_API_END
