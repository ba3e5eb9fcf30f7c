#include "effect/KestSelection.h"

#include <array>

const char* const kKestKeyNames[kKestKeyCount] = {
    "peakLV", "peakRV", "peakLF", "peakRF",
    // channel 0
    "BS1V0", "BS1F0", "BS2V0", "BS2F0", "BS3V0", "BS3F0", "BS4V0", "BS4F0", "BS5V0", "BS5F0", "BS6V0", "BS6F0",
    "BS7V0", "BS7F0", "BS8V0", "BS8F0", "BS0V0", "BS0F0",
    // channel 1
    "BS1V1", "BS1F1", "BS2V1", "BS2F1", "BS3V1", "BS3F1", "BS4V1", "BS4F1", "BS5V1", "BS5F1", "BS6V1", "BS6F1",
    "BS7V1", "BS7F1", "BS8V1", "BS8F1", "BS0V1", "BS0F1",
    // channel 4 (coherence)
    "BS1V4", "BS1F4", "BS2V4", "BS2F4", "BS3V4", "BS3F4", "BS4V4", "BS4F4", "BS5V4", "BS5F4", "BS6V4", "BS6F4",
    "BS7V4", "BS7F4", "BS8V4", "BS8F4", "BS0V4", "BS0F4",
};

namespace {

// Per preset: key index relative to the family's base, and level scale. Even
// presets are gain mode, odd presets filter mode.
struct PresetRow {
  int32_t key;
  double scale;
};
// Band base is 2 · variant index.
constexpr std::array<PresetRow, 12> kBandPresets = {{
    {4, 0.3}, {4, 0.3}, {5, 0.15}, {5, 0.15},
    {22, 0.3}, {22, 0.3}, {23, 0.15}, {23, 0.15},
    {40, 0.3}, {40, 0.3}, {41, 0.15}, {41, 0.15},
}};
// Peak base is variant index − 10.
constexpr std::array<PresetRow, 4> kPeakPresets = {{
    {0, 1.0}, {0, 0.15}, {2, 1.0}, {2, 0.15},
}};

}  // namespace

bool SelectKest(int32_t variantOffset, int32_t presetIndex, KestSelection* selection) {
  const bool band = IsBandVariant(variantOffset);
  const int32_t presetCount = band ? int32_t(kBandPresets.size()) : int32_t(kPeakPresets.size());
  if (presetIndex < 0 || presetIndex >= presetCount) return false;

  // 64-bit so that no variant index can overflow.
  const PresetRow& row = band ? kBandPresets[presetIndex] : kPeakPresets[presetIndex];
  const int64_t base = band ? 2 * int64_t(variantOffset) : int64_t(variantOffset) - 10;
  const int64_t key = base + row.key;
  selection->keyIndex = (key >= 0 && key < kKestKeyCount) ? int32_t(key) : -1;
  selection->scale = row.scale;
  selection->mode = presetIndex % 2;
  return true;
}
