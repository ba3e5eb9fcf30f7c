// The distributed notification centre: observer registrations, the delivery
// thread and posting. One centre per process, created on first use and kept
// until the process ends.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/NotificationBus.h"
#include "platform/Notifications.h"
#include "platform/ValueObject.h"

namespace {

using Clock = std::chrono::steady_clock;

// What removals select registrations by.
struct Observation {
  const void* observer;
  CFNotificationCallback callback;
  CFRef<CFStringRef> name;  // null: any
  CFRef<CFTypeRef> object;  // null: any
};

struct Registration {
  uint64_t id;
  Observation observation;
  std::string rule;  // empty: nothing on the bus can match
};

bool Matches(const Observation& o, const WireNotification& n) {
  if (o.name && !CFEqual(o.name.get(), n.name.get())) return false;
  if (o.object && (!n.object || !CFEqual(o.object.get(), n.object.get()))) return false;
  return true;
}

// Reconnection back-off.
constexpr std::chrono::milliseconds kFirstRetry{20};
constexpr std::chrono::milliseconds kLastRetry{2000};
// Notifications read from the bus in one go before local posts get a turn.
constexpr size_t kReceiveBatch = 64;
// Local posts waiting for the delivery thread; beyond this a poster that
// outruns its own observers is told so.
constexpr size_t kMaxLocalQueue = 65536;

}  // namespace

struct CFNotificationCenterObject : QelvoValue {
  CFNotificationCenterObject() : QelvoValue(kQelvoTypeIDNotificationCenter, true) {}

  void Start();
  void Stop();

  void Add(const void* observer, CFNotificationCallback callback, CFStringRef name, CFTypeRef object);
  template <class Pred>
  void RemoveWhere(Pred pred);
  int Post(CFStringRef name, CFStringRef object, CFDictionaryRef userInfo, std::string* error);
  bool IsConnected();
  int WaitUntilConnected(double seconds, std::string* error);
  uint64_t SignalCount();

 private:
  void Run();
  // With busMutex_ held: a connection attempt starts, moves along or fails.
  void BeginConnecting();
  void AdvanceConnecting();
  void ConnectFailed(int code, const std::string& reason);
  void Deliver(const WireNotification& n);
  void Wake();
  bool OnDeliveryThread() const { return std::this_thread::get_id() == deliveryThreadId_.load(); }

  // Lock order: registryMutex_, then busMutex_; queueMutex_ alone.
  std::mutex registryMutex_;
  std::condition_variable callDone_;
  std::vector<Registration> registrations_;  // in registration order (ascending id)
  uint64_t nextId_ = 1;
  // The call in progress: its registration's id (0 for none) and what it
  // observes, kept even when the registration is removed meanwhile.
  uint64_t inFlight_ = 0;
  Observation inFlightObservation_{};
  bool stopped_ = false;

  std::mutex busMutex_;
  // Told when the connection or its rules change, for WaitUntilConnected.
  std::condition_variable busChanged_;
  NotificationBus bus_;
  int lastConnectCode_ = -ENOTCONN;
  std::string lastConnectError_;
  Clock::time_point nextConnect_{};
  std::chrono::milliseconds retryDelay_ = kFirstRetry;

  std::mutex queueMutex_;
  std::deque<WireNotification> localQueue_;
  bool stopping_ = false;

  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<std::thread::id> deliveryThreadId_{};
};

// Whoever first asks for the centre (a plug-in being opened, say) never waits
// for the bus: only the socket is connected here, which answers at once, and
// the delivery thread sees authentication and the greeting through.
void CFNotificationCenterObject::Start() {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  {
    std::lock_guard<std::mutex> lock(busMutex_);
    BeginConnecting();
  }
  thread_ = std::thread([this] { Run(); });
}

void CFNotificationCenterObject::BeginConnecting() {
  std::string reason;
  const int rc = bus_.Begin(&reason);
  if (rc < 0) ConnectFailed(rc, reason);
}

void CFNotificationCenterObject::AdvanceConnecting() {
  std::string reason;
  const int rc = bus_.Advance(&reason);
  if (rc < 0) {
    ConnectFailed(rc, reason);
  } else if (rc > 0) {
    retryDelay_ = kFirstRetry;
    lastConnectCode_ = 0;
    lastConnectError_.clear();
  }
}

void CFNotificationCenterObject::ConnectFailed(int code, const std::string& reason) {
  lastConnectCode_ = code;
  lastConnectError_ = reason;
  nextConnect_ = Clock::now() + retryDelay_;
  retryDelay_ = std::min(retryDelay_ * 2, kLastRetry);
}

// At exit: no observer is called once exit handlers run, and what was posted
// last still leaves the process.
void CFNotificationCenterObject::Stop() {
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable() && !OnDeliveryThread()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(registryMutex_);
    stopped_ = true;
  }
  std::lock_guard<std::mutex> lock(busMutex_);
  bus_.Flush();
}

void CFNotificationCenterObject::Wake() {
  uint64_t one = 1;
  ssize_t ignored = write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

void CFNotificationCenterObject::Add(const void* observer, CFNotificationCallback callback, CFStringRef name,
                                     CFTypeRef object) {
  Registration r{0, {observer, callback, CFRef<CFStringRef>::Retain(name), CFRef<CFTypeRef>::Retain(object)}, {}};
  // Only strings travel as objects; an observer of any other object can only
  // see nothing from the bus.
  bool objectSendable = object == nullptr || IsSendableNotificationString(static_cast<CFStringRef>(object));
  if ((name == nullptr || IsSendableNotificationString(name)) && objectSendable)
    r.rule = NotificationMatchRule(name, static_cast<CFStringRef>(object));
  std::lock_guard<std::mutex> lock(registryMutex_);
  r.id = nextId_++;
  {
    // Sent to the bus without waiting for its answer: registering never
    // waits on the bus. QelvoNotificationCenterWaitUntilConnected waits for
    // the bus to confirm.
    std::lock_guard<std::mutex> busLock(busMutex_);
    bus_.AddRule(r.rule);
  }
  registrations_.push_back(std::move(r));
  Wake();  // the delivery thread writes the request out and reads the answer
}

template <class Pred>
void CFNotificationCenterObject::RemoveWhere(Pred pred) {
  std::vector<Registration> removed;
  std::unique_lock<std::mutex> lock(registryMutex_);
  auto keep = std::stable_partition(registrations_.begin(), registrations_.end(),
                                    [&](const Registration& r) { return !pred(r.observation); });
  for (auto it = keep; it != registrations_.end(); ++it) removed.push_back(std::move(*it));
  registrations_.erase(keep, registrations_.end());
  if (!removed.empty()) {
    {
      std::lock_guard<std::mutex> busLock(busMutex_);
      for (const Registration& r : removed) bus_.RemoveRule(r.rule);
    }
    Wake();
  }
  // Also when the registration is already gone (an observer that removed
  // itself and is still returning): after this, none of its code runs. An
  // observer removing itself from its own call must not wait for itself.
  const uint64_t callId = inFlight_;
  if (callId != 0 && pred(inFlightObservation_) && !OnDeliveryThread())
    callDone_.wait(lock, [&] { return inFlight_ != callId; });
}

int CFNotificationCenterObject::Post(CFStringRef name, CFStringRef object, CFDictionaryRef userInfo,
                                     std::string* error) {
  auto fail = [&](int code, const char* reason) {
    if (error != nullptr) *error = reason;
    return code;
  };
  if (!IsSendableNotificationString(name))
    return fail(-EINVAL, "the notification name must be a string of at most 64 KiB without zero bytes");
  if (object != nullptr && !IsSendableNotificationString(object))
    return fail(-EINVAL, "the notification object must be a string of at most 64 KiB without zero bytes");
  bool tooLarge = false;
  CFRef<CFDictionaryRef> wireUserInfo = CopyUserInfoForWire(userInfo, &tooLarge);
  if (tooLarge) return fail(-E2BIG, "the user info holds too many values or bytes to be sent");

  // Delivered here directly rather than through the bus, so local observers
  // get it with or without a bus, and exactly once.
  WireNotification local;
  local.name = CFRef<CFStringRef>::Retain(name);
  if (object != nullptr && CFStringGetLength(object) > 0) local.object = CFRef<CFStringRef>::Retain(object);
  local.userInfo = wireUserInfo;
  // Only when someone here observes it: a mere poster's delivery thread
  // stays asleep.
  bool observed = false;
  {
    std::lock_guard<std::mutex> lock(registryMutex_);
    observed = std::any_of(registrations_.begin(), registrations_.end(),
                           [&](const Registration& r) { return Matches(r.observation, local); });
  }
  bool queued = !observed;
  if (observed) {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (localQueue_.size() < kMaxLocalQueue) {
      localQueue_.push_back(std::move(local));
      queued = true;
    }
  }

  int rc = 0;
  std::string reason;
  bool pendingOutput = false;
  {
    std::lock_guard<std::mutex> lock(busMutex_);
    if (!bus_.IsOpen() && !bus_.IsConnecting()) {
      rc = -ENOTCONN;
      reason = lastConnectError_.empty() ? "not connected to the session bus" : lastConnectError_;
    } else {
      // While connecting it waits in the queue for the bus's greeting.
      rc = bus_.Send(name, object, wireUserInfo.get(), &reason);
      pendingOutput = bus_.HasPendingOutput();
    }
  }
  // The delivery thread writes out what the socket did not take at once.
  if (observed || pendingOutput) Wake();
  if (rc < 0) return fail(rc, reason.c_str());
  if (!queued) return fail(-ENOBUFS, "too many notifications wait for this process's own observers");
  return 0;
}

bool CFNotificationCenterObject::IsConnected() {
  std::lock_guard<std::mutex> lock(busMutex_);
  return bus_.IsOpen() && bus_.RulesInstalled();
}

int CFNotificationCenterObject::WaitUntilConnected(double seconds, std::string* error) {
  std::unique_lock<std::mutex> lock(busMutex_);
  // Only the delivery thread moves the connection along: it must not wait
  // for itself.
  if (!OnDeliveryThread() && seconds > 0) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(std::min(seconds, 1e6)));
    busChanged_.wait_until(lock, end, [&] { return bus_.IsOpen() ? bus_.RulesInstalled() : !bus_.IsConnecting(); });
  }
  auto fail = [&](int code, const std::string& reason) {
    if (error != nullptr) *error = reason;
    return code;
  };
  if (bus_.IsOpen())
    return bus_.RulesInstalled() ? 0 : fail(-ETIMEDOUT, "the session bus has not confirmed the observations yet");
  if (bus_.IsConnecting()) return fail(-ETIMEDOUT, "the session bus has not answered yet");
  return fail(lastConnectCode_ < 0 ? lastConnectCode_ : -ENOTCONN,
              lastConnectError_.empty() ? "not connected to the session bus" : lastConnectError_);
}

uint64_t CFNotificationCenterObject::SignalCount() {
  std::lock_guard<std::mutex> lock(busMutex_);
  return bus_.SignalCount();
}

void CFNotificationCenterObject::Deliver(const WireNotification& n) {
  std::unique_lock<std::mutex> lock(registryMutex_);
  // Observers added during this delivery start with the next notification.
  const uint64_t limit = nextId_;
  uint64_t last = 0;
  for (;;) {
    auto it = std::upper_bound(registrations_.begin(), registrations_.end(), last,
                               [](uint64_t id, const Registration& r) { return id < r.id; });
    while (it != registrations_.end() && it->id < limit && !Matches(it->observation, n)) ++it;
    if (it == registrations_.end() || it->id >= limit || stopped_) return;
    last = it->id;
    inFlight_ = it->id;
    inFlightObservation_ = it->observation;
    CFNotificationCallback callback = it->observation.callback;
    void* observer = const_cast<void*>(it->observation.observer);
    lock.unlock();
    // One misbehaving observer must not end delivery for the others.
    try {
      callback(this, observer, n.name.get(), n.object.get(), n.userInfo.get());
    } catch (...) {
    }
    lock.lock();
    inFlight_ = 0;
    inFlightObservation_ = Observation{};
    callDone_.notify_all();
  }
}

void CFNotificationCenterObject::Run() {
  deliveryThreadId_.store(std::this_thread::get_id());
  std::vector<WireNotification> received;
  std::deque<WireNotification> local;
  for (;;) {
    received.clear();
    local.clear();
    bool more = false;
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    uint64_t busDeadline = UINT64_MAX;
    Clock::time_point connectAt = Clock::time_point::max();
    {
      std::lock_guard<std::mutex> lock(busMutex_);
      if (!bus_.IsOpen() && !bus_.IsConnecting() && Clock::now() >= nextConnect_) BeginConnecting();
      if (bus_.IsConnecting()) AdvanceConnecting();
      if (bus_.IsOpen()) {
        more = bus_.Receive(&received, kReceiveBatch);
        if (!bus_.IsOpen()) {
          lastConnectCode_ = -ECONNRESET;
          lastConnectError_ = "the session bus connection was lost";
          nextConnect_ = Clock::now();
          more = true;
        }
      }
      if (bus_.Fd() >= 0) {
        fds[1] = {bus_.Fd(), bus_.Events(), 0};
        busDeadline = bus_.Deadline();
      } else {
        connectAt = nextConnect_;
      }
      busChanged_.notify_all();
    }
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      if (stopping_) return;
      local.swap(localQueue_);
    }
    for (const WireNotification& n : received) Deliver(n);
    for (const WireNotification& n : local) Deliver(n);
    if (more || !received.empty() || !local.empty()) continue;

    // Sleep until the bus has something, a poster or a registration wakes
    // us, the bus needs attention or it is time to reconnect.
    int timeoutMs = -1;
    if (busDeadline != UINT64_MAX) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      uint64_t nowUsec = uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
      timeoutMs = busDeadline <= nowUsec ? 0 : int(std::min<uint64_t>((busDeadline - nowUsec + 999) / 1000, 60'000));
    }
    if (connectAt != Clock::time_point::max()) {
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(connectAt - Clock::now()).count();
      int connectMs = int(std::clamp<long long>(wait, 0, 60'000));
      timeoutMs = timeoutMs < 0 ? connectMs : std::min(timeoutMs, connectMs);
    }
    // Without a wake-up descriptor, look again now and then instead.
    if (wakeFd_ < 0 && (timeoutMs < 0 || timeoutMs > 10)) timeoutMs = 10;
    poll(fds, fds[1].fd >= 0 ? 2 : 1, timeoutMs);
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      ssize_t ignored = read(wakeFd_, &count, sizeof count);
      (void)ignored;
    }
  }
}

namespace {

CFNotificationCenterObject* sCenter = nullptr;

void StopCenterAtExit() { sCenter->Stop(); }

CFNotificationCenterObject* Centre(CFNotificationCenterRef center) {
  return center != nullptr && center == sCenter ? center : nullptr;
}

}  // namespace

CFNotificationCenterRef CFNotificationCenterGetDistributedCenter() {
  static CFNotificationCenterObject* const centre = [] {
    // Never destroyed: observers and exit-time removals may still use it
    // while the process ends.
    auto* c = new CFNotificationCenterObject;
    sCenter = c;
    c->Start();
    std::atexit(StopCenterAtExit);
    return c;
  }();
  return centre;
}

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callBack, CFStringRef name, const void* object,
                                     CFNotificationSuspensionBehavior) {
  if (Centre(center) == nullptr || callBack == nullptr) return;
  center->Add(observer, callBack, name, object);
}

void CFNotificationCenterRemoveObserver(CFNotificationCenterRef center, const void* observer, CFStringRef name,
                                        const void* object) {
  if (Centre(center) == nullptr) return;
  center->RemoveWhere([&](const Observation& r) {
    return r.observer == observer && (name == nullptr || (r.name && CFEqual(r.name.get(), name))) &&
           (object == nullptr || (r.object && CFEqual(r.object.get(), object)));
  });
}

void CFNotificationCenterRemoveEveryObserver(CFNotificationCenterRef center, const void* observer) {
  if (Centre(center) == nullptr) return;
  center->RemoveWhere([&](const Observation& r) { return r.observer == observer; });
}

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void* object,
                                          CFDictionaryRef userInfo, Boolean) {
  QelvoNotificationCenterPost(center, name, static_cast<CFStringRef>(object), userInfo, nullptr);
}

void QelvoNotificationCenterRemoveCallback(CFNotificationCenterRef center, CFNotificationCallback callBack) {
  if (Centre(center) == nullptr) return;
  center->RemoveWhere([&](const Observation& r) { return r.callback == callBack; });
}

int QelvoNotificationCenterPost(CFNotificationCenterRef center, CFStringRef name, CFStringRef object,
                                CFDictionaryRef userInfo, std::string* error) {
  if (Centre(center) == nullptr) {
    if (error != nullptr) *error = "no notification centre given";
    return -EINVAL;
  }
  return center->Post(name, object, userInfo, error);
}

bool QelvoNotificationCenterIsConnected(CFNotificationCenterRef center) {
  return Centre(center) != nullptr && center->IsConnected();
}

int QelvoNotificationCenterWaitUntilConnected(CFNotificationCenterRef center, double seconds, std::string* error) {
  if (Centre(center) == nullptr) {
    if (error != nullptr) *error = "no notification centre given";
    return -EINVAL;
  }
  return center->WaitUntilConnected(seconds, error);
}

uint64_t QelvoNotificationCenterBusSignalCount(CFNotificationCenterRef center) {
  return Centre(center) != nullptr ? center->SignalCount() : 0;
}
