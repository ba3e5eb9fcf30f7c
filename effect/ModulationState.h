// Process-wide modulation state of one deliverable: every instance in the
// process shares it, and each deliverable has its own copy (its symbols are
// private to its shared object). Values cross threads whole; relaxed atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "variants/VariantValues.h"

extern std::atomic<int32_t> kPresetDefaultIndexX;  // preset chosen last
extern std::atomic<double> cutoffX;                // cutoff modulation factor
extern std::atomic<float> gainX;                   // gain modulation factor
extern std::atomic<int32_t> testX;                 // 0 gain mode, else filter mode
extern std::atomic<double> levelX;                 // last level of the followed measure, as posted

// The writers of the mode flag and the factors besides the mapping below,
// one named write each, so the flow between the threads shows:
// [delivery] the listener re-asserts the mode of the chosen preset on every
// level notification (0 gain, 1 filter), matching or not.
inline void ReassertPresetMode(int32_t mode) { testX.store(mode, std::memory_order_relaxed); }
// [render] a gain parameter below 0.01 hands the level to the cutoff: filter
// mode for every instance, until the next notification or preset.
inline void ForceFilterMode() { testX.store(1, std::memory_order_relaxed); }
// [control] choosing a factory preset: its number, its mode (even numbers
// gain, odd filter), and the factor of that mode back to 1.0.
inline void SelectPresetState(int32_t number) {
  kPresetDefaultIndexX.store(number, std::memory_order_relaxed);
  if (number % 2 == 0) {
    testX.store(0, std::memory_order_relaxed);
    gainX.store(1.0f, std::memory_order_relaxed);
  } else {
    testX.store(1, std::memory_order_relaxed);
    cutoffX.store(1.0, std::memory_order_relaxed);
  }
}
// [control] a new unit: both factors 1.0 and no level yet; the mode and the
// preset index stay as earlier instances left them.
inline void ResetFactorsForNewUnit() {
  cutoffX.store(1.0, std::memory_order_relaxed);
  gainX.store(1.0f, std::memory_order_relaxed);
  levelX.store(0.0, std::memory_order_relaxed);
}

// [delivery] Level to factors; the level is already scaled by the listener. Both factors
// are written whatever the mode. The gain factor is held within [-2.0, 2.0]
// (negative levels invert the output, at most to -2.0); the cutoff factor is
// limited to 10.0 with no lower bound (the kernel holds the cutoff at 12 Hz or
// more). A level whose nearest 32-bit float is not finite (NaN, an infinity,
// or a magnitude beyond the 32-bit range, such as -1e308) leaves both factors
// as they were.
void setGainFrequency(double level);  // peak measures
void setGainFrequencyBS(double level);  // band measures; same arithmetic

// [any] Whether the mapping takes this scaled level (its nearest 32-bit float is
// finite); a level it refuses changes no factor and is not reported.
bool IsMappableLevel(double level);
