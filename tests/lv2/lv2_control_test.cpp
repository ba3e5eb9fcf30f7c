// Preset and bypass changes the unit refuses because another call is inside
// it (run() reads the modulation report through a control call) are asked
// for again, not lost.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "lv2/Lv2Control.h"
#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "platform/Values.h"
#include "support/Lv2TestFeatures.h"

namespace {

// Holds a control call inside the unit until released: a listener of the
// preset blocks the thread that changed it.
struct BusyUnit {
  std::promise<void> inside, release;
  std::shared_future<void> released = release.get_future().share();

  static void Listener(void* self, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    auto* busy = static_cast<BusyUnit*>(self);
    busy->inside.set_value();
    busy->released.wait();
  }
};

int32_t Preset(AudioUnit unit) {
  AUPreset preset{-1, nullptr};
  UInt32 size = sizeof preset;
  EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &preset, &size),
            noErr);
  if (preset.presetName != nullptr) CFRelease(preset.presetName);
  return preset.presetNumber;
}

TEST(Lv2Control, AChangeTheBusyUnitRefusedIsAskedForAgain) {
  AudioUnit unit = nullptr;
  ASSERT_EQ(QelvoOpenComponent("AUQelvoBS7", &unit), noErr) << QelvoComponentLoaderLastError();
  TestWorker worker;
  Lv2Control control;
  control.Start(unit, worker.feature());
  control.ResetAndApplyNow(0, false);

  BusyUnit busy;
  ASSERT_EQ(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_PresentPreset, BusyUnit::Listener, &busy), noErr);
  std::thread other([&] {
    AUPreset preset{2, nullptr};
    AudioUnitSetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &preset, sizeof preset);
  });
  busy.inside.get_future().wait();

  control.Post(1, false);
  ASSERT_EQ(worker.scheduled, 1);
  control.Work();  // refused: the other thread is inside
  busy.release.set_value();
  other.join();
  AudioUnitRemovePropertyListenerWithUserData(unit, kAudioUnitProperty_PresentPreset, BusyUnit::Listener, &busy);
  EXPECT_EQ(Preset(unit), 2);

  control.Post(1, false);
  EXPECT_EQ(worker.scheduled, 2) << "the refused change is requested again";
  control.Work();
  EXPECT_EQ(Preset(unit), 1);
  control.Post(1, false);
  EXPECT_EQ(worker.scheduled, 2) << "once applied, nothing more to ask";

  control.Stop();
  CloseComponent(unit);
}

}  // namespace
