// Deliverable values of AUQelvoBS2 (band 2).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 1;
const uint32_t kFrequencyResponsePropertyID = 67803;
const char* const kDeliverableName = "AUQelvoBS2";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS2";
const char* const kViewFactoryClassName = "AUQelvoBS2_ViewFactory";
