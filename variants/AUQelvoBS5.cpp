// Deliverable values of AUQelvoBS5 (band 5).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 4;
const uint32_t kFrequencyResponsePropertyID = 67806;
const char* const kDeliverableName = "AUQelvoBS5";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS5";
const char* const kViewFactoryClassName = "AUQelvoBS5_ViewFactory";
