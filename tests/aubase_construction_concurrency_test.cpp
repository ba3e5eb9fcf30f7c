// Units opened on several host threads at once share the process-wide key
// strings and vector-unit type; the first constructions must not race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/TestUnit.h"

TEST(AUBaseConstructionConcurrency, ParallelOpensAgreeOnProcessWideValues) {
  constexpr int kThreads = 4;
  constexpr int kUnitsPerThread = 25;
  std::atomic<bool> go{false};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kUnitsPerThread; ++i) {
        TestUnitPtr unit = OpenTestUnit(1, 1);
        // Every unit must see the strings set, and its preset must name them.
        if (!AUBase::sAUBaseCFStringsInitialized || AUBase::kUntitledString == nullptr ||
            unit->GetCurrentPreset().presetName != AUBase::kUntitledString ||
            AUBase::sVectorUnitType == -1)
          ++mismatches;
        unit->SetParameter(0, kAudioUnitScope_Global, 0, float(i), 0);
      }
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}
