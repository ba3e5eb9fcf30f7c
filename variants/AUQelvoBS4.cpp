// Deliverable values of AUQelvoBS4 (band 4).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 3;
const uint32_t kFrequencyResponsePropertyID = 67805;
const char* const kDeliverableName = "AUQelvoBS4";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS4";
const char* const kViewFactoryClassName = "AUQelvoBS4_ViewFactory";
