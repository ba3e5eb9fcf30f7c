// A loadable object holding its own copy of the level listener and the
// modulation state, built as the left-peak deliverable, for tests of two
// deliverables in one process and of unloading.
#include <cstdint>

#include "effect/KestNotificationObserver.h"
#include "effect/ModulationState.h"

extern "C" {

__attribute__((visibility("default"))) void LevelModuleRegister() { AddKestNotificationObserverX(); }
__attribute__((visibility("default"))) void LevelModuleSetPreset(int32_t preset) {
  kPresetDefaultIndexX.store(preset);
}
__attribute__((visibility("default"))) void LevelModuleSetState(int32_t mode, float gain, double cutoff) {
  testX.store(mode);
  gainX.store(gain);
  cutoffX.store(cutoff);
}
__attribute__((visibility("default"))) int32_t LevelModuleMode() { return testX.load(); }
__attribute__((visibility("default"))) float LevelModuleGain() { return gainX.load(); }
__attribute__((visibility("default"))) double LevelModuleCutoff() { return cutoffX.load(); }
}
