// Deliverable values of AUQelvoBS6 (band 6).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 5;
const uint32_t kFrequencyResponsePropertyID = 67807;
const char* const kDeliverableName = "AUQelvoBS6";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS6";
const char* const kViewFactoryClassName = "AUQelvoBS6_ViewFactory";
