// The process's one connection to the session bus, as the notification centre
// uses it: the match rules its observers need (counted, so observers sharing
// a rule share one), sending notifications and reading what arrives. Not
// thread-safe: the centre serialises every call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/NotificationWire.h"

struct sd_bus;
struct sd_bus_slot;

class NotificationBus {
 public:
  NotificationBus() = default;
  NotificationBus(const NotificationBus&) = delete;
  NotificationBus& operator=(const NotificationBus&) = delete;
  ~NotificationBus();

  bool IsOpen() const { return bus_ != nullptr; }
  // Connects to the session bus and installs every rule in use. 0 or a
  // negative errno value with the reason in *error.
  int Open(std::string* error);
  // Writes out what is still queued, waiting at most a moment.
  void Flush();
  void Close();

  // An empty rule stands for an observer nothing on the bus can match.
  void AddRule(const std::string& rule);
  void RemoveRule(const std::string& rule);

  int Send(CFStringRef name, CFStringRef object, CFDictionaryRef wireUserInfo, std::string* error);

  // Reads up to max messages. Notifications from other processes are
  // appended to out (this process's own come back to it through the bus
  // and are skipped, having been delivered locally). Returns true when more
  // may be waiting. Closes the connection when it was lost.
  bool Receive(std::vector<WireNotification>* out, size_t max);

  // For waiting: the descriptor, the poll events wanted and the deadline
  // (CLOCK_MONOTONIC microseconds, UINT64_MAX for none).
  int Fd() const;
  short Events() const;
  uint64_t Deadline() const;
  bool HasPendingOutput() const;

  // Notification signals read from the bus, this process's own included.
  uint64_t SignalCount() const { return signalCount_; }

 private:
  struct Rule {
    int users = 0;
    sd_bus_slot* slot = nullptr;
  };
  void Install(const std::string& rule, Rule* entry);

  sd_bus* bus_ = nullptr;
  std::string uniqueName_;
  std::map<std::string, Rule> rules_;
  uint64_t signalCount_ = 0;
};
