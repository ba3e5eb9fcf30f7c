// The process's one connection to the session bus, as the notification centre
// uses it: connecting without waiting, the match rules its observers need
// (counted, so observers sharing a rule share one), sending notifications and
// reading what arrives. Nothing here blocks: connecting and installing rules
// advance as the caller polls the descriptor. Not thread-safe: the centre
// serialises every call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/NotificationWire.h"

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

// How long connecting, authentication and the bus's greeting may take in all
// before the attempt counts as failed.
inline constexpr uint64_t kNotificationConnectTimeoutUsec = 3'000'000;

// [delivery] Every member runs under the centre's lock, mostly on its
// delivery thread; posting threads send through it too.
class NotificationBus {
 public:
  NotificationBus() = default;
  NotificationBus(const NotificationBus&) = delete;
  NotificationBus& operator=(const NotificationBus&) = delete;
  ~NotificationBus();

  // Connected and greeted by the bus.
  bool IsOpen() const { return state_ == State::kOpen; }
  // Socket connected, authentication or greeting still under way.
  bool IsConnecting() const { return state_ == State::kConnecting; }
  // Every rule in use has been confirmed by the bus (or refused twice).
  bool RulesInstalled() const { return pendingRules_ == 0; }

  // Starts connecting to the session bus without waiting for it, and queues
  // the rules in use behind the greeting: 0, or a negative errno value with
  // the reason in *error (no bus address, nothing listening there).
  int Begin(std::string* error);
  // Moves a connection under way along; call when its descriptor is ready or
  // its deadline has come. 1 once open, 0 while still connecting, or a
  // negative errno value with the reason when the attempt failed or ran out
  // of time (closed then).
  int Advance(std::string* error);
  // Writes out what is still queued, waiting at most a moment (longer while
  // a connection with queued notifications is still being set up).
  void Flush();
  void Close();

  // An empty rule stands for an observer nothing on the bus can match.
  void AddRule(const std::string& rule);
  void RemoveRule(const std::string& rule);

  // Open: sent (or queued when the socket is full). Connecting: queued, and
  // sent once the bus has greeted us, or lost when the attempt fails.
  int Send(CFStringRef name, CFStringRef object, CFDictionaryRef wireUserInfo, std::string* error);

  // Reads up to max messages. Notifications from other processes are
  // appended to out (this process's own come back to it through the bus
  // and are skipped, having been delivered locally). Returns true when more
  // may be waiting. Closes the connection when it was lost.
  bool Receive(std::vector<WireNotification>* out, size_t max);

  // For waiting: the descriptor (-1 when closed), the poll events wanted and
  // the deadline (CLOCK_MONOTONIC microseconds, UINT64_MAX for none; while
  // connecting, at most the end of the attempt).
  int Fd() const;
  short Events() const;
  uint64_t Deadline() const;
  bool HasPendingOutput() const;

  // Notification signals read from the bus, this process's own included.
  uint64_t SignalCount() const { return signalCount_; }

 private:
  enum class State { kClosed, kConnecting, kOpen };
  struct Rule {
    int users = 0;
    sd_bus_slot* slot = nullptr;
    bool pending = false;    // waiting for the bus to confirm it
    bool fallBack = false;   // refused: take every notification instead
    bool fellBack = false;   // already replaced once
    NotificationBus* owner = nullptr;
  };
  friend struct RuleReplies;
  void Confirmed(Rule* entry, bool refused);
  void Install(const std::string& rule, Rule* entry);
  void ReleaseSlot(Rule* entry);
  void InstallFallbacks();
  int Fail(int code, const std::string& reason, std::string* error);

  sd_bus* bus_ = nullptr;
  State state_ = State::kClosed;
  std::string address_;
  uint64_t connectDeadline_ = UINT64_MAX;
  std::string uniqueName_;
  std::map<std::string, Rule> rules_;
  size_t pendingRules_ = 0;
  bool fallbacksWanted_ = false;
  size_t sentWhileConnecting_ = 0;  // notifications waiting for the greeting
  uint64_t signalCount_ = 0;
};
