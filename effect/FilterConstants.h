// Parameter IDs of the filter effect (global scope, element 0) and the
// constants behind their ranges and defaults; effect/FilterParameters.h
// describes each parameter.
#pragma once

#include "platform/AudioTypes.h"

constexpr AudioUnitParameterID kParam_CutoffFrequency = 0;  // Hz, before modulation
constexpr AudioUnitParameterID kParam_Resonance = 1;        // dB
constexpr AudioUnitParameterID kParam_Gain = 2;             // linear, gain mode

constexpr Float32 kMinCutoffHz = 12.0f;
constexpr Float32 kDefaultCutoff = 1000.0f;
constexpr Float32 kMinResonance = -20.0f;
constexpr Float32 kMaxResonance = 20.0f;
constexpr Float32 kDefaultResonance = 0.0f;
constexpr Float32 kDefaultValue_Gain = 1.0f;
constexpr Float32 kMinGain = 0.0f;
constexpr Float32 kMaxGain = 1.0f;
// The top of a fixed-range cutoff control (an LV2 port); the unit itself
// reports half its sample rate.
constexpr Float32 kMaxCutoffControlHz = 20000.0f;
