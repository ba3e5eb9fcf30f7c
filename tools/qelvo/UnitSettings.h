// What the user chose for a unit on the command line (preset, parameters,
// saved state) and how it is checked against what the unit reports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/qelvo/PluginHost.h"

struct UnitSettings {
  std::string plugin;
  std::optional<std::string> preset;  // a number or a name
  std::vector<std::string> params;    // NAME=VALUE
  std::string stateFile;              // an XML property list, or empty
};

// The factory preset the text names: its number, or its name (letter case and
// spaces aside). Otherwise a usage error listing the valid ones.
PresetDescription ResolvePreset(const std::vector<PresetDescription>& presets, const std::string& wanted,
                                const std::string& pluginName);

struct ParameterAssignment {
  ParameterDescription parameter;
  float value = 0;
};

// Parses NAME=VALUE. NAME is a parameter's name (letter case, spaces, '-'
// and '_' aside; "cutoff-frequency"), a unique beginning of one ("cutoff"),
// or its ID. VALUE is a plain number within the parameter's range. Usage
// errors list the parameters or state the range.
ParameterAssignment ResolveParameter(const std::vector<ParameterDescription>& parameters,
                                     const std::string& assignment, const std::string& pluginName);

// The unit's unit of measure as a short label ("Hz", "dB"); empty for none.
std::string UnitLabel(const AudioUnitParameterInfo& info);

// Applies, in this order: the saved state (whose preset name, when it is a
// factory preset's, brings that preset back), the preset, the parameters.
// The unit must have its format already, since ranges follow the sample
// rate. Answers the factory preset in force, if any.
std::optional<PresetDescription> ApplyUnitSettings(PluginInstance& unit, const UnitSettings& settings);
