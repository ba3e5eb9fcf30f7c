// Shared pieces of the notification tests: a private bus for the whole test
// program, an observer that records what it is given, and running the peer
// process.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/Eventually.h"
#include "support/PrivateBus.h"
#include "support/PrivateBusEnvironment.h"

inline std::string Text(CFStringRef s) {
  const char* text = CFStringGetCStringPtr(s, kCFStringEncodingUTF8);
  return text != nullptr ? text : "";
}

inline CFRef<CFStringRef> MakeCFString(const std::string& text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}

struct Delivery {
  std::string name;
  std::string object;  // "" for none
  bool hasObject = false;
  CFRef<CFDictionaryRef> userInfo;
  std::thread::id thread;
};

// Records every notification its registrations receive; removes them all
// when destroyed.
class Recorder {
 public:
  Recorder() : center_(CFNotificationCenterGetDistributedCenter()) {}
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder() { CFNotificationCenterRemoveEveryObserver(center_, this); }

  // Empty name or object: any.
  void Observe(const std::string& name, const std::string& object = "") {
    CFRef<CFStringRef> n = name.empty() ? nullptr : MakeCFString(name);
    CFRef<CFStringRef> o = object.empty() ? nullptr : MakeCFString(object);
    CFNotificationCenterAddObserver(center_, this, Callback, n.get(), o.get(),
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    // The bus confirms the observation in the background; other processes'
    // notifications reach it from then on.
    QelvoNotificationCenterWaitUntilConnected(center_, 10, nullptr);
  }

  static void Callback(CFNotificationCenterRef, void* observer, CFStringRef name, const void* object,
                       CFDictionaryRef userInfo) {
    auto* self = static_cast<Recorder*>(observer);
    Delivery d{Text(name), object != nullptr ? Text(static_cast<CFStringRef>(object)) : "", object != nullptr,
               CFRef<CFDictionaryRef>::Retain(userInfo), std::this_thread::get_id()};
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->deliveries_.push_back(std::move(d));
    self->changed_.notify_all();
  }

  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return deliveries_.size() >= count; });
  }
  std::vector<Delivery> Deliveries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_.size();
  }
  size_t CountNamed(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const Delivery& d : deliveries_) n += d.name == name;
    return n;
  }

 private:
  CFNotificationCenterRef center_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Delivery> deliveries_;
};

struct PeerResult {
  int exitCode = -1;
  std::string output;
};

// Runs the peer program with args (shell words), with env assignments
// prefixed, and collects its standard output.
// The bus confirms observations in the background: the peer starts once it
// has confirmed those of this process, so what the peer posts reaches them.
inline PeerResult RunPeer(const std::string& args, const std::string& env = "") {
  QelvoNotificationCenterWaitUntilConnected(CFNotificationCenterGetDistributedCenter(), 10, nullptr);
  std::string command = (env.empty() ? "" : "env " + env + " ") + QELVO_NOTIFICATIONS_PEER + " " + args;
  PeerResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
