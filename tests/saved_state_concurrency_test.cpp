// Units on different threads save and restore element names at the same
// time; their decimal keys must not share storage.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/SavedStateSupport.h"

using namespace saved_state_test;

TEST(SavedStateConcurrencyTest, UnitsOnTwoThreadsKeepTheirOwnElementNames) {
  InstallTestComponentInfo();
  constexpr int kRounds = 200;
  constexpr UInt32 kNamed = 12;

  auto work = [](std::string prefix, bool* ok) {
    TestUnitPtr unit = OpenTestUnit(1, 1);
    CFRef<CFMutableDictionaryRef> entry = NewDict();
    for (UInt32 i = 0; i < kNamed; ++i)
      Set(entry.get(), std::to_string(i).c_str(), Str((prefix + std::to_string(i)).c_str()).get());
    CFRef<CFMutableDictionaryRef> names = NewDict();
    Set(names.get(), "1", entry.get());
    CFRef<CFMutableDictionaryRef> state = MinimalState();
    Set(state.get(), "element-name", names.get());

    for (int round = 0; round < kRounds && *ok; ++round) {
      if (unit->RestoreState(state.get()) != noErr) *ok = false;
      CFPropertyListRef saved = nullptr;
      if (unit->SaveState(&saved) != noErr) *ok = false;
      CFRef<CFDictionaryRef> holder = CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(saved));
      const auto savedNames = static_cast<CFDictionaryRef>(
          CFDictionaryGetValue(holder.get(), Str("element-name").get()));
      if (!CFEqual(savedNames, names.get())) *ok = false;
    }
  };

  bool okA = true, okB = true;
  std::thread a(work, "left ", &okA);
  std::thread b(work, "right ", &okB);
  a.join();
  b.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
}
