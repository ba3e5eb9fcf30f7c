#include "effect/FilterParameters.h"

#include "framework/AUParameterName.h"

void FillFilterParameterInfo(const FilterParameter& parameter, Float64 sampleRate, AudioUnitParameterInfo& info) {
  // Interned: the same text gives the same immortal string every time.
  FillInParameterName(info, CFStringMakeConstantString(parameter.name), false);
  info.unit = parameter.unit;
  info.minValue = parameter.minValue;
  info.maxValue = FilterParameterMaximum(parameter, sampleRate);
  info.defaultValue = parameter.defaultValue;
  info.flags |= parameter.flags;
  // The host's record may hold anything; no unit name, no clump.
  info.unitName = nullptr;
  info.clumpID = 0;
}
