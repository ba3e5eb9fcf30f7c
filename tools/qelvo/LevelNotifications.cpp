#include "tools/qelvo/LevelNotifications.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tools/qelvo/ToolError.h"

namespace {

// Delivery normally takes microseconds; this only guards against a centre
// that lost the notification.
constexpr auto kDeliveryTimeout = std::chrono::seconds(10);

// Connecting gives up by itself after a few seconds; this bounds waiting for
// the bus to confirm what the command observes.
constexpr double kBusWaitSeconds = 10;

}  // namespace

CFStringRef LevelNotificationName() { return CFSTR("Kest Level Changed Notification"); }

CFRef<CFDictionaryRef> MakeLevelUserInfo(const std::string& symbol, double level) {
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFRef<CFStringRef> s = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, symbol.c_str(), kCFStringEncodingUTF8));
  CFRef<CFNumberRef> n = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), s.get());
  CFDictionarySetValue(info.get(), CFSTR("New Level"), n.get());
  return CFRef<CFDictionaryRef>::Adopt(info.release());
}

DecodedLevel DecodeLevelUserInfo(CFDictionaryRef userInfo) {
  DecodedLevel decoded;
  if (userInfo == nullptr) return decoded;
  const void* symbol = CFDictionaryGetValue(userInfo, CFSTR("Kest Symbol"));
  if (symbol != nullptr && CFGetTypeID(symbol) == CFStringGetTypeID()) {
    CFStringRef s = static_cast<CFStringRef>(symbol);
    std::string text(static_cast<size_t>(CFStringGetLength(s)) + 1, '\0');
    if (CFStringGetCString(s, text.data(), static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8)) {
      text.resize(text.size() - 1);
      decoded.symbol = text;
    }
  }
  const void* level = CFDictionaryGetValue(userInfo, CFSTR("New Level"));
  double value = 0;
  if (level != nullptr && CFGetTypeID(level) == CFNumberGetTypeID() &&
      CFNumberGetValue(static_cast<CFNumberRef>(level), kCFNumberDoubleType, &value))
    decoded.level = value;
  return decoded;
}

void DetachFromBus() {
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  unsetenv("XDG_RUNTIME_DIR");
}

CFNotificationCenterRef RequireBus(const std::string& command) {
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  std::string reason;
  if (QelvoNotificationCenterWaitUntilConnected(center, kBusWaitSeconds, &reason) < 0) {
    throw ToolError("no session bus to reach the analyser and the plug-ins (" + reason +
                    "). Start one just for this command with\n  dbus-run-session -- qelvo " + command +
                    " ...\nor one for a shell and the commands it starts with\n  dbus-run-session -- bash\nand run the command there.");
  }
  return center;
}

void PostLevel(CFNotificationCenterRef center, const std::string& symbol, double level) {
  CFRef<CFDictionaryRef> info = MakeLevelUserInfo(symbol, level);
  std::string reason;
  const int rc = QelvoNotificationCenterPost(center, LevelNotificationName(), nullptr, info.get(), &reason);
  if (rc < 0) throw ToolError("cannot post the level of " + symbol + ": " + reason);
}

LevelPoster::LevelPoster(CFNotificationCenterRef center, std::string command)
    : center_(center), command_(std::move(command)) {}

bool LevelPoster::Post(const std::string& symbol, double level) {
  CFRef<CFDictionaryRef> info = MakeLevelUserInfo(symbol, level);
  std::string reason;
  if (QelvoNotificationCenterPost(center_, LevelNotificationName(), nullptr, info.get(), &reason) < 0) {
    dropped_.fetch_add(1);
    ++droppedInOutage_;
    if (!inOutage_)
      std::fprintf(stderr, "qelvo %s: cannot post levels (%s); dropping them until the session bus is back\n",
                   command_.c_str(), reason.c_str());
    inOutage_ = true;
    return false;
  }
  if (inOutage_)
    std::fprintf(stderr, "qelvo %s: the session bus is back; %llu level%s dropped meanwhile\n", command_.c_str(),
                 static_cast<unsigned long long>(droppedInOutage_), droppedInOutage_ == 1 ? "" : "s");
  inOutage_ = false;
  droppedInOutage_ = 0;
  return true;
}

InProcessLevelDelivery::InProcessLevelDelivery() : center_(CFNotificationCenterGetDistributedCenter()) {
  CFNotificationCenterAddObserver(center_, this, &InProcessLevelDelivery::Fence, LevelNotificationName(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
}

InProcessLevelDelivery::~InProcessLevelDelivery() { CFNotificationCenterRemoveEveryObserver(center_, this); }

void InProcessLevelDelivery::Fence(CFNotificationCenterRef, void* observer, CFStringRef, const void*,
                                   CFDictionaryRef) {
  auto* self = static_cast<InProcessLevelDelivery*>(observer);
  std::lock_guard<std::mutex> lock(self->mutex_);
  ++self->seen_;
  self->seenChanged_.notify_all();
}

void InProcessLevelDelivery::Deliver(const std::string& symbol, double level) {
  CFRef<CFDictionaryRef> info = MakeLevelUserInfo(symbol, level);
  std::string reason;
  const int rc = QelvoNotificationCenterPost(center_, LevelNotificationName(), nullptr, info.get(), &reason);
  // Detached from the bus the centre says so, but still delivers here.
  if (rc < 0 && rc != -ENOTCONN) throw ToolError("cannot deliver the level of " + symbol + ": " + reason);
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = ++posted_;
  if (!seenChanged_.wait_for(lock, kDeliveryTimeout, [&] { return seen_ >= target; }))
    throw ToolError("the level of " + symbol + " was not delivered to the plug-in");
}

LevelCounter::LevelCounter(CFNotificationCenterRef center) : center_(center) {
  CFNotificationCenterAddObserver(center_, this, &LevelCounter::OnLevel, LevelNotificationName(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
}

LevelCounter::~LevelCounter() { CFNotificationCenterRemoveEveryObserver(center_, this); }

uint64_t LevelCounter::Count() const { return count_.load(); }

void LevelCounter::OnLevel(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef) {
  static_cast<LevelCounter*>(observer)->count_.fetch_add(1);
}
