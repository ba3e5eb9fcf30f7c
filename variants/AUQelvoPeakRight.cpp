// Deliverable values of AUQelvoPeakRight (right peak).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 11;
const uint32_t kFrequencyResponsePropertyID = 67801;
const char* const kDeliverableName = "AUQelvoPeakRight";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoPeakRight";
const char* const kViewFactoryClassName = "AUQelvoPeakRight_ViewFactory";
