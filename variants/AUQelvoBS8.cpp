// Deliverable values of AUQelvoBS8 (band 8).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 7;
const uint32_t kFrequencyResponsePropertyID = 67809;
const char* const kDeliverableName = "AUQelvoBS8";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS8";
const char* const kViewFactoryClassName = "AUQelvoBS8_ViewFactory";
