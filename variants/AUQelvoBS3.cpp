// Deliverable values of AUQelvoBS3 (band 3).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 2;
const uint32_t kFrequencyResponsePropertyID = 67804;
const char* const kDeliverableName = "AUQelvoBS3";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS3";
const char* const kViewFactoryClassName = "AUQelvoBS3_ViewFactory";
