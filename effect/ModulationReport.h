// A read-only property through which a host can watch the modulation: the
// last level of the followed measure, the two factors and the mode. Every
// deliverable answers it under the same ID, in the global scope. Reading it
// only loads atomics, so a host may read it from its audio thread; like every
// property read it is refused (kQelvoErr_UnitBusy) while another thread is
// inside the unit's control calls.
#pragma once

#include "platform/AudioTypes.h"

constexpr AudioUnitPropertyID kModulationReportPropertyID = 67900;

struct ModulationReport {
  Float64 mLevel;         // last level of the followed measure, as posted
  Float64 mCutoffFactor;  // cutoff = parameter x (factor + 0.1) in filter mode
  Float32 mGainFactor;    // output = input x Gain x factor in gain mode
  UInt32 mFilterMode;     // 0 gain mode, 1 filter mode
};
static_assert(sizeof(ModulationReport) == 24);
