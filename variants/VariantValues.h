// What differs between the deliverables. Each deliverable links exactly one
// definition of these, written from its row of variants/deliverables.cmake
// (variants/VariantValues.cpp.in); test programs link the AUQelvoBS7 row's.
#pragma once

#include <cstdint>

// Variant index: 0..7 for bands 1..8, 10 left peak, 11 right peak.
extern const int32_t kPresetDefaultOffset;
// Property ID of the frequency-response curve (67800..67809 for the ten).
extern const uint32_t kFrequencyResponsePropertyID;
// Deliverable name, e.g. "AUQelvoBS7".
extern const char* const kDeliverableName;
// Bundle identifier, "org.qelvo.audiounit." + name.
extern const char* const kBundleIdentifier;
// Class name of the editor view factory, name + "_ViewFactory".
extern const char* const kViewFactoryClassName;
