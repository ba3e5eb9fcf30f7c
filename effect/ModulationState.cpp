#include "effect/ModulationState.h"

std::atomic<int32_t> kPresetDefaultIndexX{0};
std::atomic<double> cutoffX{1.0};
std::atomic<float> gainX{1.0f};
std::atomic<int32_t> testX{0};
