// Deliverable values of AUQelvoPeakLeft (left peak).
#include "variants/VariantValues.h"

const int32_t kPresetDefaultOffset = 10;
const uint32_t kFrequencyResponsePropertyID = 67800;
const char* const kDeliverableName = "AUQelvoPeakLeft";
const char* const kBundleIdentifier = "org.qelvo.audiounit.AUQelvoPeakLeft";
const char* const kViewFactoryClassName = "AUQelvoPeakLeft_ViewFactory";
