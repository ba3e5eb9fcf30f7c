// A unit's frequency-response curve, read through its response property.
#pragma once

#include <vector>

#include "tools/qelvo/Pictures.h"
#include "tools/qelvo/PluginHost.h"

// 512 points, log-spaced from 10 Hz to just below half the sample rate, for
// the unit's current parameters; the unit must be initialised.
ResponseCurve UnitResponseCurve(const PluginInstance& unit, double sampleRate);

// The same for each cutoff in Hz, asked of the unit with its cutoff parameter
// set to it; the parameter is put back afterwards.
std::vector<ResponseCurve> UnitResponseCurves(PluginInstance& unit, double sampleRate, const std::vector<double>& cutoffs);
