// The factory presets. A preset sets no parameter: it picks the measure the
// level listener follows and whether the level drives the gain or the cutoff.
#pragma once

#include <cstdint>
#include <span>

#include "platform/AudioTypes.h"

// [any] The table of the band deliverables (12 presets) or of the peak deliverables
// (4), numbered from 0 in order. The records and their names live until the
// process ends; preset arrays hold pointers to them.
std::span<const AUPreset> FilterPresetTable(int32_t variantOffset);

// [any] The table of this deliverable.
std::span<const AUPreset> FilterPresets();
