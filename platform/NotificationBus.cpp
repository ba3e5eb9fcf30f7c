#include "platform/NotificationBus.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Match callbacks only keep the rule alive; the messages themselves are taken
// from sd_bus_process, so one matching several rules is seen once.
int IgnoreMessage(sd_bus_message*, void*, sd_bus_error*) { return 0; }

// How long the bus may take to confirm a match rule.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;
// What Flush waits at most for queued output once connected.
constexpr uint64_t kFlushUsec = 1'000'000;

uint64_t NowUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
}

// The session bus: DBUS_SESSION_BUS_ADDRESS, else the per-user socket.
std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0')
    return address;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
    return std::string("unix:path=") + runtime + "/bus";
  return "";
}

}  // namespace

NotificationBus::~NotificationBus() { Close(); }

int NotificationBus::Fail(int code, const std::string& reason, std::string* error) {
  Close();
  if (error != nullptr) *error = reason;
  return code;
}

int NotificationBus::Begin(std::string* error) {
  Close();
  const std::string address = SessionBusAddress();
  if (address.empty())
    return Fail(-ENOMEDIUM, "no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set", error);
  // Set up by hand rather than with sd_bus_open_user, which waits for the
  // greeting with no bound of ours. sd_bus_start only connects the socket
  // and sends the first bytes; Advance does the rest as replies come in.
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_set_method_call_timeout(bus, kCallTimeoutUsec);
  if (r >= 0) r = sd_bus_start(bus);
  if (r < 0) {
    if (bus != nullptr) sd_bus_close_unref(bus);
    return Fail(r, "cannot connect to the session bus at " + address + ": " + std::strerror(-r), error);
  }
  bus_ = bus;
  address_ = address;
  state_ = State::kConnecting;
  connectDeadline_ = NowUsec() + kNotificationConnectTimeoutUsec;
  // Queued now, behind the greeting and ahead of any notification posted
  // while connecting, so the bus echoes those to this process's observers.
  for (auto& [rule, entry] : rules_) Install(rule, &entry);
  return 0;
}

int NotificationBus::Advance(std::string* error) {
  if (state_ != State::kConnecting) return state_ == State::kOpen ? 1 : -ENOTCONN;
  for (;;) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0)
      return Fail(r, "cannot connect to the session bus at " + address_ + ": " + std::strerror(-r), error);
    if (sd_bus_is_ready(bus_) > 0) break;
    if (sd_bus_is_open(bus_) <= 0)
      return Fail(-ECONNRESET, "the session bus at " + address_ + " closed the connection while it was set up", error);
    if (r == 0) {
      if (NowUsec() < connectDeadline_) return 0;
      return Fail(-ETIMEDOUT,
                  "the session bus at " + address_ + " did not answer within " +
                      std::to_string(kNotificationConnectTimeoutUsec / 1'000'000) + " s",
                  error);
    }
  }
  const char* unique = nullptr;
  sd_bus_get_unique_name(bus_, &unique);  // known once ready, no waiting
  uniqueName_ = unique != nullptr ? unique : "";
  state_ = State::kOpen;
  connectDeadline_ = UINT64_MAX;
  sentWhileConnecting_ = 0;
  return 1;
}

void NotificationBus::Flush() {
  // Waiting out a slow greeting is worth it only for notifications of ours.
  if (bus_ == nullptr || (state_ == State::kConnecting && sentWhileConnecting_ == 0)) return;
  uint64_t end = NowUsec() + kFlushUsec;
  if (state_ == State::kConnecting) end = std::max(end, connectDeadline_);
  for (;;) {
    uint64_t queued = 0;
    if (sd_bus_get_n_queued_write(bus_, &queued) < 0 || (queued == 0 && !HasPendingOutput())) return;
    if (state_ == State::kConnecting && Advance(nullptr) < 0) return;
    const uint64_t now = NowUsec();
    if (now >= end) return;
    pollfd p{Fd(), Events(), 0};
    poll(&p, 1, static_cast<int>(std::min<uint64_t>((end - now + 999) / 1000, 10)));
    if (state_ == State::kOpen && (sd_bus_process(bus_, nullptr) < 0 || sd_bus_is_open(bus_) <= 0)) return;
  }
}

void NotificationBus::Close() {
  for (auto& [rule, entry] : rules_) {
    ReleaseSlot(&entry);
    entry.fallBack = entry.fellBack = false;
  }
  fallbacksWanted_ = false;
  if (bus_ != nullptr) bus_ = sd_bus_close_unref(bus_);
  state_ = State::kClosed;
  connectDeadline_ = UINT64_MAX;
  sentWhileConnecting_ = 0;
  uniqueName_.clear();
}

void NotificationBus::ReleaseSlot(Rule* entry) {
  if (entry->pending) {
    entry->pending = false;
    --pendingRules_;
  }
  entry->slot = sd_bus_slot_unref(entry->slot);
}

struct RuleReplies {
  static int OnInstalled(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* entry = static_cast<NotificationBus::Rule*>(userdata);
    entry->owner->Confirmed(entry, sd_bus_message_is_method_error(reply, nullptr) > 0);
    return 0;
  }
};

// Sent without waiting for the reply: an observer's registration must not
// wait on a bus that is slow or stuck. OnInstalled counts the confirmation.
void NotificationBus::Install(const std::string& rule, Rule* entry) {
  if (state_ == State::kClosed || rule.empty() || entry->slot != nullptr) return;
  entry->owner = this;
  const std::string& text = entry->fellBack ? NotificationMatchRule(nullptr, nullptr) : rule;
  if (sd_bus_add_match_async(bus_, &entry->slot, text.c_str(), IgnoreMessage, RuleReplies::OnInstalled, entry) >= 0) {
    entry->pending = true;
    ++pendingRules_;
  } else if (!entry->fellBack && sd_bus_is_open(bus_) > 0) {
    entry->fellBack = true;
    Install(rule, entry);
  }
}


void NotificationBus::Confirmed(Rule* entry, bool refused) {
  if (entry->pending) {
    entry->pending = false;
    --pendingRules_;
  }
  // Refused (a bus limit, a rule it cannot parse) but still connected: take
  // every notification instead and let local filtering sort them out, rather
  // than miss some. The slot cannot be replaced from inside its own callback.
  if (refused && !entry->fellBack) {
    entry->fallBack = true;
    fallbacksWanted_ = true;
  }
}

void NotificationBus::InstallFallbacks() {
  fallbacksWanted_ = false;
  const std::string any = NotificationMatchRule(nullptr, nullptr);
  for (auto& [rule, entry] : rules_) {
    if (!entry.fallBack) continue;
    entry.fallBack = false;
    entry.fellBack = true;
    if (rule == any) continue;  // nothing broader to fall back to
    ReleaseSlot(&entry);
    Install(rule, &entry);
  }
}

void NotificationBus::AddRule(const std::string& rule) {
  Rule& entry = rules_[rule];
  if (entry.users++ == 0) Install(rule, &entry);
}

void NotificationBus::RemoveRule(const std::string& rule) {
  auto it = rules_.find(rule);
  if (it == rules_.end()) return;
  if (--it->second.users > 0) return;
  ReleaseSlot(&it->second);
  rules_.erase(it);
}

int NotificationBus::Send(CFStringRef name, CFStringRef object, CFDictionaryRef wireUserInfo, std::string* error) {
  if (bus_ == nullptr) {
    if (error != nullptr) *error = "not connected to the session bus";
    return -ENOTCONN;
  }
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_signal(bus_, &m, kNotificationPath, kNotificationInterface, kNotificationMember);
  if (r >= 0) r = AppendWireNotification(m, name, object, wireUserInfo);
  if (r >= 0) r = sd_bus_send(bus_, m, nullptr);
  sd_bus_message_unref(m);
  if (r >= 0 && state_ == State::kConnecting) ++sentWhileConnecting_;
  if (r < 0) {
    if (error != nullptr) *error = std::string("cannot send the notification on the session bus: ") + std::strerror(-r);
    return r;
  }
  return 0;
}

bool NotificationBus::Receive(std::vector<WireNotification>* out, size_t max) {
  if (state_ != State::kOpen) return false;
  bool more = true;
  for (size_t n = 0; n < max && more; ++n) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_process(bus_, &m);
    if (r < 0) {
      Close();
      return false;
    }
    if (m != nullptr) {
      if (sd_bus_message_is_signal(m, kNotificationInterface, kNotificationMember) > 0) {
        ++signalCount_;
        const char* sender = sd_bus_message_get_sender(m);
        WireNotification notification;
        if ((sender == nullptr || uniqueName_ != sender) && ReadWireNotification(m, &notification))
          out->push_back(std::move(notification));
      }
      sd_bus_message_unref(m);
    }
    if (sd_bus_is_open(bus_) <= 0) {
      Close();
      return false;
    }
    more = r > 0;
  }
  if (fallbacksWanted_) InstallFallbacks();
  return more;
}

int NotificationBus::Fd() const { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }

short NotificationBus::Events() const {
  int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
  return events > 0 ? static_cast<short>(events) : 0;
}

uint64_t NotificationBus::Deadline() const {
  uint64_t deadline = UINT64_MAX;
  if (bus_ == nullptr || sd_bus_get_timeout(bus_, &deadline) < 0) deadline = UINT64_MAX;
  return std::min(deadline, connectDeadline_);
}

bool NotificationBus::HasPendingOutput() const { return (Events() & POLLOUT) != 0; }
