// Level notifications as the analyser sends them: "Kest Level Changed
// Notification" with the measure under "Kest Symbol" and the level under
// "New Level". Posting in this process, waiting for delivery, and the bus.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/CFRef.h"
#include "platform/Notifications.h"

inline constexpr const char* kLevelNotificationName = "Kest Level Changed Notification";
inline constexpr const char* kLevelSymbolKey = "Kest Symbol";
inline constexpr const char* kLevelValueKey = "New Level";

// What the OSC bridge adds, so `qelvo monitor` can show where a level came
// from: the value its rule read and its fate ("posted") on each level it
// posts, and a notification of its own for a value it did not post (held,
// dropped, warming up) with the level the plug-ins keep, if any. Listeners of
// the level notification ignore both.
inline constexpr const char* kBridgeValueNotificationName = "Qelvo Bridge Value Notification";
inline constexpr const char* kRawValueKey = "Qelvo Raw Value";
inline constexpr const char* kFateKey = "Qelvo Fate";

CFStringRef LevelNotificationName();
CFStringRef BridgeValueNotificationName();

struct LevelDetail {
  double raw = 0;
  std::string fate;
};
// level absent: no "New Level" key.
CFRef<CFDictionaryRef> MakeLevelUserInfo(const std::string& symbol, std::optional<double> level,
                                         const LevelDetail* detail = nullptr);

struct DecodedLevel {
  std::optional<std::string> symbol;  // when "Kest Symbol" holds a string
  std::optional<double> level;        // when "New Level" holds a number
  std::optional<double> raw;          // the bridge's "Qelvo Raw Value"
  std::optional<std::string> fate;    // the bridge's "Qelvo Fate"
};
DecodedLevel DecodeLevelUserInfo(CFDictionaryRef userInfo);

// Keeps this process off the session bus, so an offline render hears no
// levels but its own and sends none to the desktop. Call before anything
// opens the notification centre.
void DetachFromBus();

// The centre, connected to the session bus with the observations added so
// far in place, or a ToolError that gives the reason and says how to start a
// bus for `qelvo <command>`. Waits at most the centre's connection bound (a
// few seconds) for a bus that does not answer.
CFNotificationCenterRef RequireBus(const std::string& command);

// Posts one level on the bus and to this process's observers; throws
// ToolError when the bus refuses it.
void PostLevel(CFNotificationCenterRef center, const std::string& symbol, double level);

struct ShapedLevel;

// Posts levels for a command that keeps running while the bus goes away and
// comes back (replay --loop, bridge): a level that cannot be posted is
// dropped and counted, and stderr says when dropping starts and when the bus
// is back. Use from one thread; Dropped() from any.
class LevelPoster {
 public:
  LevelPoster(CFNotificationCenterRef center, std::string command);
  // True when posted, false when dropped. detail: what the bridge adds.
  bool Post(const std::string& symbol, double level, const LevelDetail* detail = nullptr);
  // The bridge's notice of a value it did not post; level is the one that
  // holds, when there is one. Lost, uncounted, while the bus is away.
  void Announce(const std::string& symbol, std::optional<double> level, const LevelDetail& detail);
  // What the bridge's shaping made of a value (BridgeLevels.h): a posted
  // level with its raw value and fate when a map rule shaped it, any other
  // fate announced. False when a level had to be dropped.
  bool Post(const ShapedLevel& level);
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  CFNotificationCenterRef center_;
  std::string command_;
  std::atomic<uint64_t> dropped_{0};
  uint64_t droppedInOutage_ = 0;
  bool inOutage_ = false;
};

// Delivers levels to the observers of this process, the unit's listener
// among them, and waits until each has been handled: the fence observer is
// registered after the unit opened, and the centre calls observers in
// registration order, so when the fence sees a notification the unit's
// listener has returned from it.
class InProcessLevelDelivery {
 public:
  InProcessLevelDelivery();
  InProcessLevelDelivery(const InProcessLevelDelivery&) = delete;
  InProcessLevelDelivery& operator=(const InProcessLevelDelivery&) = delete;
  ~InProcessLevelDelivery();

  void Deliver(const std::string& symbol, double level);

 private:
  static void Fence(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef);

  CFNotificationCenterRef center_;
  std::mutex mutex_;
  std::condition_variable seenChanged_;
  uint64_t posted_ = 0;
  uint64_t seen_ = 0;
};

// Counts the level notifications this process receives (from the bus or
// its own posts), for a live render's summary.
class LevelCounter {
 public:
  explicit LevelCounter(CFNotificationCenterRef center);
  LevelCounter(const LevelCounter&) = delete;
  LevelCounter& operator=(const LevelCounter&) = delete;
  ~LevelCounter();
  uint64_t Count() const;

 private:
  static void OnLevel(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef);
  CFNotificationCenterRef center_;
  std::atomic<uint64_t> count_{0};
};
