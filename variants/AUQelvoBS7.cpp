// Deliverable values of AUQelvoBS7 (band 7).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 6;
const uint32_t kFrequencyResponsePropertyID = 67808;
const char* const kDeliverableName = "AUQelvoBS7";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS7";
const char* const kViewFactoryClassName = "AUQelvoBS7_ViewFactory";
