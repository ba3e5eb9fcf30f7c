// A read-only property that tells a host which deliverable a unit is: its
// variant index (which measures its presets follow) and the ID of its
// frequency-response property. Every deliverable answers it under the same
// ID, in the global scope, so host tools ask the unit instead of probing IDs
// or keeping a table of their own. 67901 sits next to the modulation report
// (67900), away from the framework's IDs (below 64000) and from the curve
// IDs, which the plug-in table hands out from 67800 up.
#pragma once

#include "platform/AudioTypes.h"

constexpr AudioUnitPropertyID kUnitIdentityPropertyID = 67901;

struct UnitIdentity {
  SInt32 mVariantIndex;                 // 0..7 bands 1..8, 10 left peak, 11 right peak
  UInt32 mFrequencyResponsePropertyID;  // where the unit's curve is read
};
static_assert(sizeof(UnitIdentity) == 8);
