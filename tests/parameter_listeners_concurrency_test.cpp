#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ParameterListeners.h"
#include "support/ProbeUnit.h"

namespace {

struct Gate {
  std::atomic<bool> entered{false};
  std::atomic<bool> open{false};
  std::atomic<bool> finished{false};
};

void WaitAtGate(void* refCon, void*, const AudioUnitParameter*, AudioUnitParameterValue) {
  auto* gate = static_cast<Gate*>(refCon);
  gate->entered = true;
  while (!gate->open) std::this_thread::yield();
  gate->finished = true;
}

void Count(void* refCon, void*, const AudioUnitParameter*, AudioUnitParameterValue) {
  static_cast<std::atomic<int>*>(refCon)->fetch_add(1);
}

}  // namespace

TEST(ParameterListenersConcurrency, DisposeWaitsForACallInProgress) {
  ProbeUnit unit;
  ASSERT_EQ(unit.status(), noErr);
  Gate gate;
  AUParameterListenerRef listener = nullptr;
  ASSERT_EQ(QelvoParameterListenerCreate(&WaitAtGate, &gate, &listener), noErr);
  const AudioUnitParameter p{unit.get(), 1, kAudioUnitScope_Global, 0};
  ASSERT_EQ(QelvoParameterListenerAddParameter(listener, nullptr, &p), noErr);

  std::thread setter([&] { EXPECT_EQ(AUParameterSet(nullptr, nullptr, &p, 1.0f, 0), noErr); });
  while (!gate.entered) std::this_thread::yield();
  std::atomic<bool> disposed{false};
  std::thread disposer([&] {
    EXPECT_EQ(QelvoParameterListenerDispose(listener), noErr);
    disposed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(disposed) << "disposal returned while the listener was still running";
  gate.open = true;
  setter.join();
  disposer.join();
  EXPECT_TRUE(gate.finished);
}

TEST(ParameterListenersConcurrency, SettersAndRegistrationsOnManyThreads) {
  ProbeUnit unit;
  ASSERT_EQ(unit.status(), noErr);
  std::atomic<int> heard{0};
  AUParameterListenerRef listener = nullptr;
  ASSERT_EQ(QelvoParameterListenerCreate(&Count, &heard, &listener), noErr);
  const AudioUnitParameter p{unit.get(), 1, kAudioUnitScope_Global, 0};
  ASSERT_EQ(QelvoParameterListenerAddParameter(listener, nullptr, &p), noErr);

  constexpr int kSets = 200;
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < kSets; ++i) EXPECT_EQ(AUParameterSet(nullptr, nullptr, &p, 0.5f, 0), noErr);
  });
  threads.emplace_back([&] {
    // Others come and go meanwhile.
    for (int i = 0; i < kSets; ++i) {
      AUParameterListenerRef passing = nullptr;
      ASSERT_EQ(QelvoParameterListenerCreate(&Count, &heard, &passing), noErr);
      ASSERT_EQ(QelvoParameterListenerAddParameter(passing, nullptr, &p), noErr);
      ASSERT_EQ(QelvoParameterListenerDispose(passing), noErr);
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_GE(heard.load(), kSets);
  EXPECT_EQ(QelvoParameterListenerDispose(listener), noErr);
}
