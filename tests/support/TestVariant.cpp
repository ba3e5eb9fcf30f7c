// Deliverable values for test programs: the band-7 deliverable.
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 6;
const uint32_t kFrequencyResponsePropertyID = 67808;
const char* const kDeliverableName = "AUQelvoBS7";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoBS7";
const char* const kViewFactoryClassName = "AUQelvoBS7_ViewFactory";
