// Deliverable values of AUQelvoBS1 (band 1).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 0;
const uint32_t kFrequencyResponsePropertyID = 67802;
const char* const kDeliverableName = "AUQelvoBS1";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS1";
const char* const kViewFactoryClassName = "AUQelvoBS1_ViewFactory";
