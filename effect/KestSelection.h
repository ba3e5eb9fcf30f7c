// Which measure a deliverable follows: the 58-name key table and the choice of
// key, level scale and mode from the variant index and the preset number.
#pragma once

#include <cstdint>

// The measure names in index order: four peak keys, then the band keys in
// blocks of 18 per channel (0, 1, 4), bands 1..8 then 0, "V" before "F".
constexpr int32_t kKestKeyCount = 58;
extern const char* const kKestKeyNames[kKestKeyCount];
constexpr int32_t kKestLastPeakKey = 3;  // keys 0..3 are the peak measures

// Variant indices up to this one follow the band measures, those above it
// the peak measures.
constexpr int32_t kLastBandVariantOffset = 9;
// [any]
constexpr bool IsBandVariant(int32_t variantOffset) { return variantOffset <= kLastBandVariantOffset; }

struct KestSelection {
  int32_t keyIndex;  // into kKestKeyNames; -1 when the computed index is off the table
  double scale;      // the level is multiplied by it; 1.0 leaves it as read
  int32_t mode;      // written to testX: 0 gain, 1 filter
};

// [any] Selection for a variant index (9 or less: band family, above: peak family)
// and a preset number. False when the preset is outside the family: then a
// notification changes nothing at all.
bool SelectKest(int32_t variantOffset, int32_t presetIndex, KestSelection* selection);
