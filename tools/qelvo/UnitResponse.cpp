#include "tools/qelvo/UnitResponse.h"

#include <cmath>
#include <cstdio>

#include "effect/FilterConstants.h"

ResponseCurve UnitResponseCurve(const PluginInstance& unit, double sampleRate) {
  ResponseCurve curve;
  curve.frequencies.resize(kFrequencyResponsePoints);
  const double lo = 10.0, hi = sampleRate / 2 * 0.999;
  for (size_t i = 0; i < curve.frequencies.size(); ++i)
    curve.frequencies[i] = lo * std::pow(hi / lo, static_cast<double>(i) / (curve.frequencies.size() - 1));
  curve.magnitudes = unit.FrequencyResponse(curve.frequencies);
  curve.cutoff = unit.GetParameter(kParam_CutoffFrequency);
  char label[96];
  std::snprintf(label, sizeof label, "cutoff parameter %g Hz, resonance %g dB", curve.cutoff,
                unit.GetParameter(kParam_Resonance));
  curve.label = label;
  return curve;
}

std::vector<ResponseCurve> UnitResponseCurves(PluginInstance& unit, double sampleRate, const std::vector<double>& cutoffs) {
  const float saved = unit.GetParameter(kParam_CutoffFrequency);
  std::vector<ResponseCurve> curves;
  try {
    for (double cutoff : cutoffs) {
      unit.SetParameter(kParam_CutoffFrequency, static_cast<float>(cutoff));
      curves.push_back(UnitResponseCurve(unit, sampleRate));
      curves.back().cutoff = cutoff;
    }
  } catch (...) {
    unit.SetParameter(kParam_CutoffFrequency, saved);
    throw;
  }
  unit.SetParameter(kParam_CutoffFrequency, saved);
  return curves;
}
