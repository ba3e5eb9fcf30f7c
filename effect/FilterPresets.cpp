#include "effect/FilterPresets.h"

#include "effect/KestSelection.h"
#include "variants/VariantValues.h"

namespace {

// Made on first use: the names are interned constant strings of the runtime.
const AUPreset* BandPresets() {
  static const AUPreset presets[] = {
      {0, CFSTR("LCH Count-Gain")},         {1, CFSTR("LCH Count-Filter")},
      {2, CFSTR("LCH F-Gain")},             {3, CFSTR("LCH F-Filter")},
      {4, CFSTR("RCH Count-Gain")},         {5, CFSTR("RCH Count-Filter")},
      {6, CFSTR("RCH F-Gain")},             {7, CFSTR("RCH F-Filter")},
      {8, CFSTR("Coherence Count-Gain")},   {9, CFSTR("Coherence Count-Filter")},
      {10, CFSTR("Coherence F-Gain")},      {11, CFSTR("Coherence F-Filter")},
  };
  return presets;
}
constexpr size_t kBandPresetCount = 12;

const AUPreset* PeakPresets() {
  static const AUPreset presets[] = {
      {0, CFSTR("Peak V-Gain")},
      {1, CFSTR("Peak V-Filter")},
      {2, CFSTR("Peak F-Gain")},
      {3, CFSTR("Peak F-Filter")},
  };
  return presets;
}
constexpr size_t kPeakPresetCount = 4;

}  // namespace

std::span<const AUPreset> FilterPresetTable(int32_t variantOffset) {
  if (!IsBandVariant(variantOffset)) return {PeakPresets(), kPeakPresetCount};
  return {BandPresets(), kBandPresetCount};
}

std::span<const AUPreset> FilterPresets() { return FilterPresetTable(kPresetDefaultOffset); }
