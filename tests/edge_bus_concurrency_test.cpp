// The bus boundary under threads (also run under ThreadSanitizer): waiting
// for the connection, observing and posting while the bus goes and comes
// back; the OSC bridge receiving on its own thread while others send and
// read its counts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Notifications.h"
#include "support/Eventually.h"
#include "support/OscPackets.h"
#include "support/PrivateBus.h"
#include "tools/qelvo/OscBridge.h"

namespace {

std::atomic<long> sHeard{0};
void Heard(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sHeard; }

TEST(EdgeBusConcurrency, ObserversWaitersAndPostersRideOutBusRestarts) {
  PrivateBus bus;
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  // Observers come and go; waiters ask for the connection; a poster posts.
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      int tag = t;
      while (!stop.load()) {
        CFNotificationCenterAddObserver(center, &tag, Heard, CFSTR("Restart Storm"), nullptr,
                                        CFNotificationSuspensionBehaviorDeliverImmediately);
        std::string reason;
        QelvoNotificationCenterWaitUntilConnected(center, 0.05, &reason);
        CFNotificationCenterRemoveEveryObserver(center, &tag);
      }
    });
  threads.emplace_back([&] {
    while (!stop.load()) {
      QelvoNotificationCenterIsConnected(center);
      QelvoNotificationCenterPost(center, CFSTR("Restart Storm"), nullptr, nullptr, nullptr);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int round = 0; round < 3; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    bus.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bus.Start();
  }
  stop = true;
  for (std::thread& t : threads) t.join();

  // Settled: connected again, and a post reaches an observer of this process.
  int observer = 0;
  CFNotificationCenterAddObserver(center, &observer, Heard, CFSTR("After Storm"), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  ASSERT_TRUE(Eventually([&] { return QelvoNotificationCenterWaitUntilConnected(center, 1, nullptr) == 0; },
                         std::chrono::seconds(30)));
  const long before = sHeard.load();
  ASSERT_EQ(QelvoNotificationCenterPost(center, CFSTR("After Storm"), nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(Eventually([&] { return sHeard.load() > before; }));
  CFNotificationCenterRemoveEveryObserver(center, &observer);
}

TEST(EdgeBusConcurrency, BridgeThreadReceivesWhileOthersSendAndReadItsCounts) {
  std::atomic<long> posted{0};
  OscBridge bridge(BridgeMap{}, "127.0.0.1", 0, [&](const std::string&, double) {
    ++posted;
    return true;
  });
  const int port = std::stoi(bridge.BoundAddress().substr(10));
  bridge.Start();
  constexpr int kSenders = 3, kEach = 200;
  // Loopback datagrams are lost only when the socket's buffer overflows:
  // the senders keep at most a few dozen in flight, however slow the bridge.
  std::atomic<long> sent{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kSenders; ++t)
    senders.emplace_back([&] {
      const std::string packet = osc::Message("/kest/level", "sf", osc::S("BS7V0") + osc::F(1));
      for (int i = 0; i < kEach; ++i) {
        while (sent.load() - bridge.Counts().posted > 32) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        osc::SendUdp(port, packet);
        ++sent;
      }
    });
  std::atomic<bool> reading{true};
  std::thread reader([&] {
    long long last = 0;
    while (reading.load()) {
      const OscBridgeCounts c = bridge.Counts();
      EXPECT_GE(c.posted, last);
      last = c.posted;
    }
  });
  for (std::thread& t : senders) t.join();
  EXPECT_TRUE(Eventually([&] { return bridge.Counts().posted == kSenders * kEach; }, std::chrono::seconds(30)))
      << bridge.Counts().posted << " of " << kSenders * kEach;
  reading = false;
  reader.join();
  bridge.Stop();
  EXPECT_EQ(posted.load(), bridge.Counts().posted);
  bridge.Start();  // starts again after a stop
  bridge.Stop();
}

TEST(EdgeBusConcurrency, BridgeThreadShapesLevelsAndPostsTheWaitingOnesByItself) {
  // rate=5: levels wait their turn; with nothing more arriving, the bridge's
  // own thread still posts the last one.
  std::atomic<long> posted{0}, announced{0};
  std::atomic<double> last{0};
  OscBridge bridge(
      ParseBridgeMap("/t/a 0 BS3V0 rate=5 hold-when=/t/contact<1\n", "m.map"), "127.0.0.1", 0,
      [&](const ShapedLevel& l) {
        if (l.fate != LevelFate::kPosted) {
          ++announced;
        } else {
          last = l.level;
          ++posted;
        }
        return true;
      },
      {}, BridgeLevelOptions{});
  const int port = std::stoi(bridge.BoundAddress().substr(10));
  bridge.Start();
  std::thread sender([&] {
    for (int i = 1; i <= 50; ++i) osc::SendUdp(port, osc::Message("/t/a", "f", osc::F(static_cast<float>(i))));
    osc::SendUdp(port, osc::Message("/t/contact", "i", osc::I(0)));
    osc::SendUdp(port, osc::Message("/t/a", "f", osc::F(99)));
  });
  sender.join();
  EXPECT_TRUE(Eventually([&] { return announced.load() == 1 && last.load() == 50; }, std::chrono::seconds(30)))
      << announced.load() << " announced, last " << last.load();
  bridge.Stop();
  EXPECT_EQ(posted.load(), bridge.Counts().posted);
  EXPECT_LE(posted.load(), 50);
  const std::vector<std::string> summary = bridge.Levels().Summary();
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_NE(summary[0].find("51 values, " + std::to_string(posted.load()) + " posted, 1 held"), std::string::npos)
      << summary[0];
}

}  // namespace
