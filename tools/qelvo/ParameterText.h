// Parameter values as the unit's own display strings.
#pragma once

#include <string>

#include "platform/AudioTypes.h"

// The display text of value for a global parameter, through the parameter
// description utility (locale-aware, precision after the range).
std::string ParameterValueText(AudioUnit unit, AudioUnitParameterID id, float value);
