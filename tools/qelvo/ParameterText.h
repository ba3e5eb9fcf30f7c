// Parameter values as the unit's own display strings.
#pragma once

#include <string>

#include "platform/AudioTypes.h"
#include "tools/qelvo/Pictures.h"

class PluginInstance;

// The display text of value for a global parameter, through the parameter
// description utility (locale-aware, precision after the range).
std::string ParameterValueText(AudioUnit unit, AudioUnitParameterID id, float value);

// The unit's response over 10 Hz to half the rate, with its current parameters.
ResponseCurve UnitResponseCurve(PluginInstance& unit, double sampleRate);
