#include "tools/qelvo/UnitResponse.h"

#include <cmath>
#include <cstdio>

ResponseCurve UnitResponseCurve(const PluginInstance& unit, double sampleRate) {
  ResponseCurve curve;
  curve.frequencies.resize(kFrequencyResponsePoints);
  const double lo = 10.0, hi = sampleRate / 2 * 0.999;
  for (size_t i = 0; i < curve.frequencies.size(); ++i)
    curve.frequencies[i] = lo * std::pow(hi / lo, static_cast<double>(i) / (curve.frequencies.size() - 1));
  curve.magnitudes = unit.FrequencyResponse(curve.frequencies);
  char label[96];
  std::snprintf(label, sizeof label, "cutoff %g Hz, resonance %g dB", unit.GetParameter(0), unit.GetParameter(1));
  curve.label = label;
  return curve;
}
