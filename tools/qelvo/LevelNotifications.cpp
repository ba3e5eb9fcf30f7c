#include "tools/qelvo/LevelNotifications.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/qelvo/LevelNormaliser.h"
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
CFStringRef BridgeValueNotificationName() { return CFSTR("Qelvo Bridge Value Notification"); }

namespace {

void SetString(CFMutableDictionaryRef info, CFStringRef key, const std::string& text) {
  CFRef<CFStringRef> s = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
  CFDictionarySetValue(info, key, s.get());
}

void SetNumber(CFMutableDictionaryRef info, CFStringRef key, double value) {
  CFRef<CFNumberRef> n = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &value));
  CFDictionarySetValue(info, key, n.get());
}

std::optional<double> NumberAt(CFDictionaryRef userInfo, CFStringRef key) {
  const void* value = CFDictionaryGetValue(userInfo, key);
  double v = 0;
  if (value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID() &&
      CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &v))
    return v;
  return std::nullopt;
}

std::optional<std::string> StringAt(CFDictionaryRef userInfo, CFStringRef key) {
  const void* value = CFDictionaryGetValue(userInfo, key);
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  CFStringRef s = static_cast<CFStringRef>(value);
  std::string text(static_cast<size_t>(CFStringGetLength(s)) + 1, '\0');
  if (!CFStringGetCString(s, text.data(), static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8)) return std::nullopt;
  text.resize(std::char_traits<char>::length(text.c_str()));
  return text;
}

}  // namespace

CFRef<CFDictionaryRef> MakeLevelUserInfo(const std::string& symbol, std::optional<double> level,
                                         const LevelDetail* detail) {
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 4, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  SetString(info.get(), CFSTR("Kest Symbol"), symbol);
  if (level) SetNumber(info.get(), CFSTR("New Level"), *level);
  if (detail != nullptr) {
    SetNumber(info.get(), CFSTR("Qelvo Raw Value"), detail->raw);
    SetString(info.get(), CFSTR("Qelvo Fate"), detail->fate);
  }
  return CFRef<CFDictionaryRef>::Adopt(info.release());
}

DecodedLevel DecodeLevelUserInfo(CFDictionaryRef userInfo) {
  DecodedLevel decoded;
  if (userInfo == nullptr) return decoded;
  decoded.symbol = StringAt(userInfo, CFSTR("Kest Symbol"));
  decoded.level = NumberAt(userInfo, CFSTR("New Level"));
  decoded.raw = NumberAt(userInfo, CFSTR("Qelvo Raw Value"));
  decoded.fate = StringAt(userInfo, CFSTR("Qelvo Fate"));
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

bool LevelPoster::Post(const std::string& symbol, double level, const LevelDetail* detail) {
  CFRef<CFDictionaryRef> info = MakeLevelUserInfo(symbol, level, detail);
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

bool LevelPoster::Post(const ShapedLevel& s) {
  const LevelDetail detail{s.raw, FateName(s.fate)};
  if (s.fate == LevelFate::kPosted) return Post(s.symbol, s.level, s.rule >= 0 ? &detail : nullptr);
  Announce(s.symbol, std::isnan(s.level) ? std::nullopt : std::optional<double>(s.level), detail);
  return true;
}

void LevelPoster::Announce(const std::string& symbol, std::optional<double> level, const LevelDetail& detail) {
  CFRef<CFDictionaryRef> info = MakeLevelUserInfo(symbol, level, &detail);
  std::string reason;
  QelvoNotificationCenterPost(center_, BridgeValueNotificationName(), nullptr, info.get(), &reason);
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
