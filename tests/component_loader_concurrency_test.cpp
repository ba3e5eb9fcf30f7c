// Instances opened and closed on several threads while another thread keeps
// rendering one instance and calling handles that were closed meanwhile: the
// lock-free instance check must neither let a stale handle through nor
// disturb the live instance.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "support/LoaderTestSupport.h"

using namespace loader_test;

namespace {

TEST(ComponentLoaderConcurrency, StaleHandlesStayRefusedWhileSlotsAreReused) {
  UseSearchPath({QELVO_TEST_BUNDLE_DIR});
  OpenInstance live("QelvoProbe");
  ASSERT_EQ(live.status(), noErr);
  ASSERT_EQ(AudioUnitSetParameter(live.get(), 0, 0, 0, 0.25f, 0), noErr);

  constexpr int kOpeners = 2;
  constexpr int kRounds = 150;
  std::array<std::atomic<ComponentInstance>, kOpeners> closed{};
  std::atomic<int> openersDone{0};
  std::atomic<bool> go{false};
  std::atomic<int> openFailures{0}, wrongAnswers{0};

  std::vector<std::thread> openers;
  for (int t = 0; t < kOpeners; ++t) {
    openers.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        ComponentInstance instance = nullptr;
        if (QelvoOpenComponent("QelvoProbe", &instance) != noErr) {
          ++openFailures;
          continue;
        }
        const Float32 value = float(round);
        Float32 read = -1;
        if (AudioUnitSetParameter(instance, 1, 0, 0, value, 0) != noErr ||
            AudioUnitGetParameter(instance, 1, 0, 0, &read) != noErr || read != value)
          ++wrongAnswers;
        if (CloseComponent(instance) != noErr) ++wrongAnswers;
        closed[t].store(instance);
      }
      ++openersDone;
    });
  }

  // The render thread's part: the live unit answers every time, the closed
  // handles never.
  Byte storage[AudioBufferListSize(1)] = {};
  auto* list = reinterpret_cast<AudioBufferList*>(storage);
  AudioTimeStamp stamp{};
  int staleCalls = 0;
  const auto callStaleHandles = [&] {
    for (auto& handle : closed) {
      if (ComponentInstance stale = handle.load()) {
        Float32 value = 0;
        if (AudioUnitGetParameter(stale, 1, 0, 0, &value) != badComponentInstance) ++wrongAnswers;
        ++staleCalls;
      }
    }
  };
  go = true;
  do {
    list->mNumberBuffers = 1;
    list->mBuffers[0].mData = nullptr;
    AudioUnitRenderActionFlags flags = 0;
    if (AudioUnitRender(live.get(), &flags, &stamp, 0, 64, list) != noErr ||
        static_cast<const Float32*>(list->mBuffers[0].mData)[63] != 0.25f)
      ++wrongAnswers;
    callStaleHandles();
  } while (openersDone.load() < kOpeners);
  for (std::thread& t : openers) t.join();
  callStaleHandles();

  EXPECT_EQ(openFailures.load(), 0);
  EXPECT_EQ(wrongAnswers.load(), 0);
  EXPECT_EQ(QelvoOpenInstanceCount(), 1u);
  EXPECT_EQ(live.Close(), noErr);
  EXPECT_FALSE(ObjectLoaded(kProbeObject));
  EXPECT_GE(staleCalls, kOpeners);
  UseSearchPath({});
}

}  // namespace
