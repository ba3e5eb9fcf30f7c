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

// Level to factors; the level is already scaled by the listener. Both factors
// are written whatever the mode. The gain factor is limited to 2.0 and the
// cutoff factor to 10.0; there is no lower bound. A level that is not a finite
// number leaves both factors as they were.
void setGainFrequency(double level);  // peak measures
void setGainFrequencyBS(double level);  // band measures; same arithmetic
