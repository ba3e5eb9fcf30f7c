// The levels a live session receives: counted for the summary and, for
// --record-levels, kept with the session time of the first cycle the unit
// rendered after each one reached it, so `qelvo render --levels` can play
// the session again offline.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Notifications.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/LiveProcessor.h"

class LiveLevelLog {
 public:
  // Observes the level notification. Construct it after the unit opened:
  // the centre calls observers in the order they were added, so this one
  // hears each level after the unit's listener has handled it.
  explicit LiveLevelLog(CFNotificationCenterRef center);
  LiveLevelLog(const LiveLevelLog&) = delete;
  LiveLevelLog& operator=(const LiveLevelLog&) = delete;
  ~LiveLevelLog();

  // Levels received so far; the processor reads it at the start of each cycle.
  const std::atomic<uint64_t>& Count() const { return count_; }

  // [control] Gives the levels the processor has seen since the last call
  // their session time.
  void Collect(LiveProcessor& processor);
  // [control] Every level received, in order; those no cycle has seen yet
  // are placed at endSeconds (past the end of the session).
  std::vector<LevelEvent> Events(double endSeconds);

  // [delivery] What the observer does with one notification's user info;
  // public for tests.
  void Receive(CFDictionaryRef userInfo);

 private:
  static void OnLevel(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef userInfo);

  CFNotificationCenterRef center_;
  std::atomic<uint64_t> count_{0};
  std::mutex mutex_;
  std::deque<LevelEvent> waiting_;  // received, not yet seen by a cycle; line holds the count
  std::vector<LevelEvent> placed_;
};

// The CSV text of a recording, in the format `qelvo render --levels` reads;
// comment lines (without '#') go first.
std::string LevelCsvText(const std::vector<LevelEvent>& events, const std::vector<std::string>& comments);
