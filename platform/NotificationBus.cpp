#include "platform/NotificationBus.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Match callbacks only keep the rule alive; the messages themselves are taken
// from sd_bus_process, so one matching several rules is seen once.
int IgnoreMessage(sd_bus_message*, void*, sd_bus_error*) { return 0; }

// A stuck bus must not hold observers' registration up for long.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

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

int NotificationBus::Open(std::string* error) {
  Close();
  const std::string address = SessionBusAddress();
  if (address.empty()) {
    if (error != nullptr) *error = "no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
    return -ENOMEDIUM;
  }
  // Set up by hand rather than with sd_bus_open_user so that the greeting
  // too is bounded by the short call timeout.
  sd_bus* bus = nullptr;
  const char* unique = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
  if (r >= 0) r = sd_bus_set_method_call_timeout(bus, kCallTimeoutUsec);
  if (r >= 0) r = sd_bus_start(bus);
  // Waits for the bus to greet us, so a dead or refusing bus shows here.
  if (r >= 0) r = sd_bus_get_unique_name(bus, &unique);
  if (r < 0) {
    if (bus != nullptr) sd_bus_close_unref(bus);
    if (error != nullptr) *error = "cannot connect to the session bus at " + address + ": " + std::strerror(-r);
    return r;
  }
  bus_ = bus;
  uniqueName_ = unique;
  for (auto& [rule, entry] : rules_) Install(rule, &entry);
  return 0;
}

void NotificationBus::Flush() {
  // sd_bus_flush could wait forever on a stuck bus; give it a second.
  for (int i = 0; i < 100 && HasPendingOutput(); ++i) {
    pollfd p{Fd(), POLLOUT, 0};
    poll(&p, 1, 10);
    if (sd_bus_process(bus_, nullptr) < 0 || sd_bus_is_open(bus_) <= 0) return;
  }
}

void NotificationBus::Close() {
  for (auto& [rule, entry] : rules_) entry.slot = sd_bus_slot_unref(entry.slot);
  if (bus_ != nullptr) bus_ = sd_bus_close_unref(bus_);
  uniqueName_.clear();
}

void NotificationBus::Install(const std::string& rule, Rule* entry) {
  if (bus_ == nullptr || rule.empty() || entry->slot != nullptr) return;
  int r = sd_bus_add_match(bus_, &entry->slot, rule.c_str(), IgnoreMessage, nullptr);
  // Refused (a bus limit, a rule it cannot parse) but still connected: take
  // every notification instead and let local filtering sort them out, rather
  // than miss some.
  if (r < 0 && sd_bus_is_open(bus_) > 0) {
    std::string any = NotificationMatchRule(nullptr, nullptr);
    if (rule != any) sd_bus_add_match(bus_, &entry->slot, any.c_str(), IgnoreMessage, nullptr);
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
  sd_bus_slot_unref(it->second.slot);
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
  if (r < 0) {
    if (error != nullptr) *error = std::string("cannot send the notification on the session bus: ") + std::strerror(-r);
    return r;
  }
  return 0;
}

bool NotificationBus::Receive(std::vector<WireNotification>* out, size_t max) {
  if (bus_ == nullptr) return false;
  for (size_t n = 0; n < max; ++n) {
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
    if (r == 0) return false;
  }
  return true;
}

int NotificationBus::Fd() const { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }

short NotificationBus::Events() const {
  int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
  return events > 0 ? static_cast<short>(events) : 0;
}

uint64_t NotificationBus::Deadline() const {
  uint64_t deadline = UINT64_MAX;
  if (bus_ == nullptr || sd_bus_get_timeout(bus_, &deadline) < 0) return UINT64_MAX;
  return deadline;
}

bool NotificationBus::HasPendingOutput() const { return (Events() & POLLOUT) != 0; }
