#include "tools/qelvo/LiveLevels.h"

#include <cmath>

#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/NumberText.h"

LiveLevelLog::LiveLevelLog(CFNotificationCenterRef center) : center_(center) {
  CFNotificationCenterAddObserver(center_, this, &LiveLevelLog::OnLevel, LevelNotificationName(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
}

LiveLevelLog::~LiveLevelLog() { CFNotificationCenterRemoveEveryObserver(center_, this); }

void LiveLevelLog::OnLevel(CFNotificationCenterRef, void* observer, CFStringRef, const void*,
                           CFDictionaryRef userInfo) {
  static_cast<LiveLevelLog*>(observer)->Receive(userInfo);
}

void LiveLevelLog::Receive(CFDictionaryRef userInfo) {
  const DecodedLevel decoded = DecodeLevelUserInfo(userInfo);
  // The unit's listener ignores the same ones.
  if (!decoded.symbol || !decoded.level || !std::isfinite(*decoded.level)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  LevelEvent e;
  e.symbol = *decoded.symbol;
  e.level = *decoded.level;
  e.line = static_cast<int>(count_.load(std::memory_order_relaxed) + 1);
  if (IsMeasureName(e.symbol)) waiting_.push_back(std::move(e));
  // Published after the level is queued, so a cycle that sees the count
  // finds it waiting.
  count_.fetch_add(1, std::memory_order_release);
}

void LiveLevelLog::Collect(LiveProcessor& processor) {
  std::vector<LevelSighting> sightings;
  processor.TakeLevelSightings(sightings);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const LevelSighting& s : sightings) {
    while (!waiting_.empty() && static_cast<uint64_t>(waiting_.front().line) <= s.count) {
      waiting_.front().time = s.seconds;
      placed_.push_back(std::move(waiting_.front()));
      waiting_.pop_front();
    }
  }
}

std::vector<LevelEvent> LiveLevelLog::Events(double endSeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LevelEvent> all = placed_;
  for (LevelEvent e : waiting_) {
    e.time = endSeconds;
    all.push_back(std::move(e));
  }
  return all;
}

std::string LevelCsvText(const std::vector<LevelEvent>& events, const std::vector<std::string>& comments) {
  std::string text;
  for (const std::string& c : comments) text += "# " + c + "\n";
  text += "time_s,symbol,level\n";
  // Shortest round-trip text: a time of frame / rate reads back as that frame.
  for (const LevelEvent& e : events) text += ShortestText(e.time) + "," + e.symbol + "," + ShortestText(e.level) + "\n";
  return text;
}
