#include "effect/ModulationState.h"

#include <cmath>

std::atomic<int32_t> kPresetDefaultIndexX{0};
std::atomic<double> cutoffX{1.0};
std::atomic<float> gainX{1.0f};
std::atomic<int32_t> testX{0};
std::atomic<double> levelX{0.0};

namespace {

constexpr float kGainLimit = 2.0f;
constexpr double kCutoffLimit = 10.0;

void MapLevel(double level) {
  // Both factors start from the level narrowed to 32 bits; the cutoff factor
  // is then divided in 64 bits, so it keeps the narrowing error (0.1 maps to
  // 0.016666666915019352). Limits are applied before the single store so a
  // render never sees an unlimited factor.
  if (!IsMappableLevel(level)) return;
  const float narrowed = static_cast<float>(level);

  // The lower gain limit keeps a hostile level from turning the output into
  // a huge inverted signal; moderate negative levels still invert it.
  float gain = narrowed / 10.0f;
  if (gain > kGainLimit) gain = kGainLimit;
  if (gain < -kGainLimit) gain = -kGainLimit;
  gainX.store(gain, std::memory_order_relaxed);

  double cutoff = static_cast<double>(narrowed) / 6.0;
  if (cutoff > kCutoffLimit) cutoff = kCutoffLimit;
  cutoffX.store(cutoff, std::memory_order_relaxed);
}

}  // namespace

bool IsMappableLevel(double level) {
  // NaN, an infinity, or a finite level beyond the 32-bit range (it would
  // narrow to an infinity) would reach the audio path as NaN or infinity.
  return std::isfinite(static_cast<float>(level));
}

void setGainFrequency(double level) { MapLevel(level); }

void setGainFrequencyBS(double level) { MapLevel(level); }
