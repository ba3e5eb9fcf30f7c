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

// Threads: [control|delivery] means any thread but a render thread, an
// observer's call on the delivery thread included.

// [any] The one centre of this process. The bus connection starts on first
// use and is set up in the background: neither this call nor adding an
// observer ever waits for the bus (QelvoNotificationCenterWaitUntilConnected
// does).
CFNotificationCenterRef CFNotificationCenterGetDistributedCenter();

// [control|delivery] name or object null: any; an object is a string.
// Observers are called on the centre's delivery thread ([delivery]), in
// registration order, never on a render thread.
// The bus is asked for the observation's notifications without waiting for
// its answer (nor for the connection); once it has answered,
// QelvoNotificationCenterWaitUntilConnected returns.
// Every registration counts: the same one added twice is called twice. The
// suspension behaviour is accepted and ignored (delivery is always immediate).
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callBack, CFStringRef name, const void* object,
                                     CFNotificationSuspensionBehavior suspensionBehavior);
// [control|delivery] Removal waits for an in-flight call of the removed
// observer to finish (except when called from that call itself). name or
// object null: any.
void CFNotificationCenterRemoveObserver(CFNotificationCenterRef center, const void* observer, CFStringRef name,
                                        const void* object);
void CFNotificationCenterRemoveEveryObserver(CFNotificationCenterRef center, const void* observer);
// [control|delivery] Posting builds values and takes the centre's lock.
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void* object,
                                          CFDictionaryRef userInfo, Boolean deliverImmediately);

// ---- extensions of this runtime -------------------------------------------------

// [control|delivery] Removes every registration whose callback is callBack,
// whatever its observer; a loadable object calls it before it is unloaded.
void QelvoNotificationCenterRemoveCallback(CFNotificationCenterRef center, CFNotificationCallback callBack);

// [control|delivery] Posts like CFNotificationCenterPostNotification but
// reports failure: 0 on success, else a negative errno value with a readable
// reason in *error (error may be null). Observers of this process get the
// notification even when the bus cannot be reached (then -ENOTCONN). While
// the connection is being set up the notification is queued and sent once
// the bus has greeted this process; should that attempt fail, it is lost.
int QelvoNotificationCenterPost(CFNotificationCenterRef center, CFStringRef name, CFStringRef object,
                                CFDictionaryRef userInfo, std::string* error);

// [any] Whether the centre is connected to the session bus right now, and
// the bus has confirmed every observation added so far; after the bus went
// away the centre reconnects by itself.
bool QelvoNotificationCenterIsConnected(CFNotificationCenterRef center);

// [control|delivery] Waits at most seconds while a connection attempt is
// under way or the bus has yet to confirm observations: 0 once connected
// with every observation in place, else a negative errno value with the
// reason in *error (the last attempt's failure: nothing listening, no answer
// within the connection bound, the connection lost; -ETIMEDOUT when seconds
// ran out first). Connecting, authentication included, gives up after a few
// seconds, so with a generous limit this answers within that bound. Seconds
// 0 reports the state at once. From an observer's call it never waits.
int QelvoNotificationCenterWaitUntilConnected(CFNotificationCenterRef center, double seconds, std::string* error);

// [any] Notification signals this process has read from the bus, its own
// posts included (they come back when it observes them). For tests and
// diagnostics: it shows what the bus's match rules let through.
uint64_t QelvoNotificationCenterBusSignalCount(CFNotificationCenterRef center);

QELVO_RUNTIME_API_END
