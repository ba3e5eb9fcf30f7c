// The filter's parameters, one row each. The unit's parameter list, defaults
// and parameter info, the LV2 ports (their description and the wrapper's
// handling of them) and the tests all walk this table: a parameter is added
// here, and where the kernel uses it.
#pragma once

#include <cstddef>
#include <span>

#include "effect/FilterConstants.h"
#include "platform/AudioTypes.h"

struct FilterParameter {
  AudioUnitParameterID id;     // global scope, element 0
  const char* symbol;          // short name: the LV2 port symbol, "cutoff"
  const char* name;            // the unit's name string, "cutoff frequency"
  const char* label;           // the LV2 port's display name, "Cutoff"
  UInt32 unit;                 // kAudioUnitParameterUnit_...
  Float32 minValue;
  // The range a host control offers. With maxIsHalfRate the unit reports
  // half its sample rate as the maximum instead, and fixed-range controls
  // (the LV2 port) are held below it too.
  Float32 maxValue;
  Float32 defaultValue;
  UInt32 flags;  // added to readable and writable
  bool maxIsHalfRate;
};

inline constexpr FilterParameter kFilterParameters[] = {
    {kParam_CutoffFrequency, "cutoff", "cutoff frequency", "Cutoff", kAudioUnitParameterUnit_Hertz, kMinCutoffHz,
     kMaxCutoffControlHz, kDefaultCutoff,
     kAudioUnitParameterFlag_IsHighResolution | kAudioUnitParameterFlag_DisplayLogarithmic, true},
    {kParam_Resonance, "resonance", "resonance", "Resonance", kAudioUnitParameterUnit_Decibels, kMinResonance,
     kMaxResonance, kDefaultResonance, kAudioUnitParameterFlag_IsHighResolution, false},
    {kParam_Gain, "gain", "Gain", "Gain", kAudioUnitParameterUnit_LinearGain, kMinGain, kMaxGain, kDefaultValue_Gain,
     0, false},
};
inline constexpr size_t kFilterParameterCount = std::size(kFilterParameters);

using FilterParameterTable = std::span<const FilterParameter>;

// [any] Position of the ID's row in the table; the table's size for none.
constexpr size_t FilterParameterIndex(AudioUnitParameterID id, FilterParameterTable table = kFilterParameters) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].id == id) return i;
  return table.size();
}

// [any] The maximum the unit reports at a sample rate: half the rate
// (computed in 64 bits, then narrowed) or the row's maximum.
inline Float32 FilterParameterMaximum(const FilterParameter& parameter, Float64 sampleRate) {
  return parameter.maxIsHalfRate ? static_cast<Float32>(sampleRate * 0.5) : parameter.maxValue;
}

// [control] The parameter info of one row at a sample rate: the constant name
// string (not to be released), unit, range, default and flags (readable,
// writable and the row's); no unit name, no clump.
void FillFilterParameterInfo(const FilterParameter& parameter, Float64 sampleRate, AudioUnitParameterInfo& info);
