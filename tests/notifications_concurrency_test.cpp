#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "support/NotificationTestSupport.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

CFNotificationCenterRef Center() { return CFNotificationCenterGetDistributedCenter(); }

std::atomic<int> sCallsAfterRemoval{0};
std::atomic<long> sCalls{0};

// One observer that is added and removed over and over; a call after its
// removal returned is a fault.
struct Churner {
  std::atomic<bool> removed{true};
};

// Checked on entry and on return: removal must also wait for a call that
// was already running.
template <int N>
void ChurnCallback(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef) {
  auto* churner = static_cast<Churner*>(observer);
  if (churner->removed.load()) ++sCallsAfterRemoval;
  // Long enough now and then for removals to meet calls in progress.
  if (++sCalls % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
  if (churner->removed.load()) ++sCallsAfterRemoval;
}

void SelfRemovingCallback(CFNotificationCenterRef center, void* observer, CFStringRef, const void*, CFDictionaryRef) {
  if (static_cast<Churner*>(observer)->removed.load()) ++sCallsAfterRemoval;
  CFNotificationCenterRemoveEveryObserver(center, observer);
  static_cast<Churner*>(observer)->removed = true;
}

template <int N>
void Churn(std::atomic<bool>* stop) {
  std::mt19937 random(N);
  Churner churner[3];
  CFRef<CFStringRef> name = MakeCFString("Storm");
  while (!stop->load()) {
    for (Churner& c : churner) {
      c.removed = false;
      CFStringRef observed = random() % 3 == 0 ? nullptr : name.get();
      CFNotificationCenterAddObserver(Center(), &c, ChurnCallback<N>, observed, nullptr,
                                      CFNotificationSuspensionBehaviorDeliverImmediately);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    switch (random() % 3) {
      case 0:
        for (Churner& c : churner) {
          CFNotificationCenterRemoveObserver(Center(), &c, nullptr, nullptr);
          c.removed = true;
        }
        break;
      case 1:
        for (Churner& c : churner) {
          CFNotificationCenterRemoveEveryObserver(Center(), &c);
          c.removed = true;
        }
        break;
      default:
        QelvoNotificationCenterRemoveCallback(Center(), ChurnCallback<N>);
        for (Churner& c : churner) c.removed = true;
        break;
    }
  }
}

TEST(NotificationConcurrency, NoObserverIsCalledAfterItsRemovalWhileNotificationsFlow) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.emplace_back(Churn<0>, &stop);
  threads.emplace_back(Churn<1>, &stop);
  threads.emplace_back(Churn<2>, &stop);
  // Observers that take themselves away from their own call.
  threads.emplace_back([&] {
    std::vector<Churner> selfRemovers(64);
    while (!stop.load()) {
      for (Churner& c : selfRemovers) {
        if (!c.removed.load()) continue;
        c.removed = false;
        CFNotificationCenterAddObserver(Center(), &c, SelfRemovingCallback, CFSTR("Storm"), nullptr,
                                        CFNotificationSuspensionBehaviorDeliverImmediately);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (Churner& c : selfRemovers) CFNotificationCenterRemoveEveryObserver(Center(), &c);
  });
  threads.emplace_back([&] {
    while (!stop.load()) {
      QelvoNotificationCenterPost(Center(), CFSTR("Storm"), nullptr, nullptr, nullptr);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  auto start = std::chrono::steady_clock::now();
  PeerResult peer = RunPeer("post Storm '' 10000");
  std::this_thread::sleep_until(start + std::chrono::seconds(1));
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(peer.exitCode, 0);
  EXPECT_EQ(sCallsAfterRemoval.load(), 0);
  EXPECT_GT(sCalls.load(), 0);
}

// Posters on several threads and another process: nothing lost, nothing
// doubled, each poster's notifications in the order it posted them.
TEST(NotificationConcurrency, ConcurrentPostersLoseNothingAndKeepTheirOrder) {
  constexpr int kThreads = 4, kPerThread = 500, kFromPeer = 1000;
  struct Seen {
    std::mutex mutex;
    std::map<std::string, std::vector<int64_t>> indexes;  // by object (the poster)
  } seen;
  auto record = [](CFNotificationCenterRef, void* observer, CFStringRef, const void* object, CFDictionaryRef info) {
    auto* s = static_cast<Seen*>(observer);
    int64_t index = -1;
    CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(info, CFSTR("Index"))), kCFNumberSInt64Type,
                     &index);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->indexes[Text(static_cast<CFStringRef>(object))].push_back(index);
  };
  CFNotificationCenterAddObserver(Center(), &seen, record, CFSTR("Burst"), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([t] {
      CFRef<CFStringRef> object = MakeCFString("thread " + std::to_string(t));
      for (int32_t i = 0; i < kPerThread; ++i) {
        CFRef<CFNumberRef> n = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &i));
        CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
        CFDictionarySetValue(info.get(), CFSTR("Index"), n.get());
        EXPECT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("Burst"), object.get(), info.get(), nullptr), 0);
      }
    });
  PeerResult peer = RunPeer("post Burst peer " + std::to_string(kFromPeer));
  for (std::thread& t : posters) t.join();
  EXPECT_EQ(peer.exitCode, 0);
  auto total = [&] {
    std::lock_guard<std::mutex> lock(seen.mutex);
    size_t n = 0;
    for (auto& [poster, indexes] : seen.indexes) n += indexes.size();
    return n;
  };
  EXPECT_TRUE(Eventually([&] { return total() >= size_t(kThreads * kPerThread + kFromPeer); }));
  CFNotificationCenterRemoveEveryObserver(Center(), &seen);
  std::lock_guard<std::mutex> lock(seen.mutex);
  ASSERT_EQ(seen.indexes.size(), size_t(kThreads + 1));
  for (auto& [poster, indexes] : seen.indexes) {
    SCOPED_TRACE(poster);
    size_t expected = poster == "peer" ? kFromPeer : kPerThread;
    ASSERT_EQ(indexes.size(), expected);
    for (size_t i = 0; i < indexes.size(); ++i) ASSERT_EQ(indexes[i], int64_t(i));
  }
}

}  // namespace
