// How a notification travels on the bus: one signal carrying the name, the
// object ("" for none) and the user info as a{sv}. Everything read from the
// bus is untrusted: values of unknown types and values over the limits below
// are dropped, and a notification that cannot be read whole is dropped.
#pragma once

#include <cstddef>
#include <string>

#include "platform/CFRef.h"
#include "platform/RuntimeApi.h"
#include "platform/Values.h"

QELVO_RUNTIME_API_BEGIN

struct sd_bus_message;

inline constexpr const char* kNotificationPath = "/io/qelvo/DistributedNotificationCenter";
inline constexpr const char* kNotificationInterface = "io.qelvo.DistributedNotificationCenter";
inline constexpr const char* kNotificationMember = "Notification";
inline constexpr const char* kNotificationSignature = "ssa{sv}";

// Limits on what one notification may carry, alike for sending and receiving.
inline constexpr size_t kNotificationMaxStringBytes = 64 * 1024;    // names, objects, keys, string values
inline constexpr size_t kNotificationMaxDataBytes = 1024 * 1024;    // one byte string
inline constexpr int kNotificationMaxDepth = 16;                    // nested containers, the user info included
inline constexpr size_t kNotificationMaxElements = 4096;            // entries of one array or dictionary
inline constexpr size_t kNotificationMaxValues = 65536;             // values of one notification, all levels
inline constexpr size_t kNotificationMaxTotalBytes = 8 * 1024 * 1024;  // string and byte-string bytes, all levels

// What an observer receives.
struct WireNotification {
  CFRef<CFStringRef> name;
  CFRef<CFStringRef> object;        // null when posted without one
  CFRef<CFDictionaryRef> userInfo;  // null when empty
};

// [any] The user info as it would arrive at an observer in another process: only
// string keys and values of the transported types, numbers as 64-bit integers
// or 64-bit floats, values over the limits dropped. Null when nothing is left.
// *tooLarge reports a dictionary over the per-notification totals (the result
// is then null too).
CFRef<CFDictionaryRef> CopyUserInfoForWire(CFDictionaryRef userInfo, bool* tooLarge);

// [any] Whether a name or object string can be sent (length, no zero byte).
bool IsSendableNotificationString(CFStringRef s);

// [any] Appends name, object and a user info already passed through
// CopyUserInfoForWire to a new signal. Returns 0 or a negative errno value.
int AppendWireNotification(sd_bus_message* message, CFStringRef name, CFStringRef object,
                           CFDictionaryRef wireUserInfo);

// [delivery] Reads a received Notification signal; false when it is not one or cannot be
// read whole (wrong signature, over the limits, corrupt).
bool ReadWireNotification(sd_bus_message* message, WireNotification* out);

// [any] The bus match rule for observing name and object (null: any). Falls back to
// a broader rule when the exact one would be longer than the bus accepts;
// observers filter again locally anyway.
std::string NotificationMatchRule(CFStringRef name, CFStringRef object);

QELVO_RUNTIME_API_END
