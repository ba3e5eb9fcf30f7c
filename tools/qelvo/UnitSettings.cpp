#include "tools/qelvo/UnitSettings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/StatePlist.h"
#include "tools/qelvo/Suggest.h"
#include "tools/qelvo/ToolError.h"

namespace {

bool ParseInt(const std::string& text, int* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseFloat(std::string text, double* out) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  if (start < text.size() && text[start] == '+') ++start;
  auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), *out);
  return start < text.size() && ec == std::errc() && end == text.data() + text.size();
}

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string PresetList(const std::vector<PresetDescription>& presets) {
  std::string list;
  for (const PresetDescription& p : presets) list += "\n  " + std::to_string(p.number) + "  " + p.name;
  return list;
}

std::string ParameterList(const std::vector<ParameterDescription>& parameters) {
  std::string list;
  for (const ParameterDescription& p : parameters) {
    list += "\n  " + std::to_string(p.id) + "  " + p.name + " (" + Number(p.info.minValue) + " to " +
            Number(p.info.maxValue);
    const std::string label = UnitLabel(p.info);
    list += (label.empty() ? "" : " " + label) + ")";
  }
  return list;
}

std::optional<UInt32> NumberIn(CFDictionaryRef state, CFStringRef key) {
  const void* value = CFDictionaryGetValue(state, key);
  SInt32 number = 0;
  if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID() ||
      !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &number))
    return std::nullopt;
  return static_cast<UInt32>(number);
}

// A state names the deliverable it came from by subtype and manufacturer; the
// unit would refuse another's with a bare status, so say whose it is.
void CheckStateBelongsTo(const PluginInstance& unit, CFDictionaryRef state, const std::string& file) {
  const std::optional<UInt32> subtype = NumberIn(state, CFSTR("subtype"));
  const std::optional<UInt32> manufacturer = NumberIn(state, CFSTR("manufacturer"));
  if (!subtype || !manufacturer) return;  // the unit's own checks explain the rest
  const ComponentDescription& own = unit.Description();
  if (*subtype == own.componentSubType && *manufacturer == own.componentManufacturer) return;
  for (const InstalledPlugin& p : InstalledPlugins())
    if (p.description.componentSubType == *subtype && p.description.componentManufacturer == *manufacturer)
      throw ToolError(file + " is a saved state of " + p.name + ", not of " + unit.Name() + "; use it with --plugin " +
                      p.name);
  // As the file writes them: signed decimal numbers.
  throw ToolError(file + " is a saved state of another plug-in (subtype " +
                  std::to_string(static_cast<SInt32>(*subtype)) + ", manufacturer " +
                  std::to_string(static_cast<SInt32>(*manufacturer)) + "), not of " + unit.Name());
}

}  // namespace

std::string UnitLabel(const AudioUnitParameterInfo& info) {
  switch (info.unit) {
    case kAudioUnitParameterUnit_Hertz: return "Hz";
    case kAudioUnitParameterUnit_Decibels: return "dB";
    case kAudioUnitParameterUnit_Percent: return "%";
    case kAudioUnitParameterUnit_Seconds: return "s";
    case kAudioUnitParameterUnit_LinearGain: return "linear gain";
    default: return "";
  }
}

PresetDescription ResolvePreset(const std::vector<PresetDescription>& presets, const std::string& wanted,
                                const std::string& pluginName) {
  int number = 0;
  const bool isNumber = ParseInt(wanted, &number);
  for (const PresetDescription& p : presets)
    if (isNumber ? p.number == number : FoldedName(p.name) == FoldedName(wanted)) return p;
  std::vector<std::string> names;
  if (!isNumber)
    for (const PresetDescription& p : presets) names.push_back(p.name);
  throw UsageError("unknown preset '" + wanted + "' for " + pluginName + DidYouMean(wanted, names) +
                   "; its presets are:" + PresetList(presets));
}

ParameterAssignment ResolveParameter(const std::vector<ParameterDescription>& parameters,
                                     const std::string& assignment, const std::string& pluginName) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError("--param wants NAME=VALUE, got '" + assignment + "'");
  const std::string name = assignment.substr(0, eq);
  const std::string valueText = assignment.substr(eq + 1);

  const ParameterDescription* found = nullptr;
  int id = 0;
  const std::string folded = FoldedName(name);
  for (const ParameterDescription& p : parameters)
    if ((ParseInt(name, &id) && p.id == static_cast<AudioUnitParameterID>(id)) || FoldedName(p.name) == folded) found = &p;
  if (found == nullptr && !folded.empty()) {
    int matches = 0;
    for (const ParameterDescription& p : parameters)
      if (FoldedName(p.name).rfind(folded, 0) == 0) {
        found = &p;
        ++matches;
      }
    if (matches > 1) found = nullptr;
  }
  if (found == nullptr) {
    std::vector<std::string> names;
    for (const ParameterDescription& p : parameters) names.push_back(p.name);
    throw UsageError("unknown parameter '" + name + "' for " + pluginName + DidYouMean(name, names) +
                     "; its parameters are:" + ParameterList(parameters));
  }

  double value = 0;
  if (!ParseFloat(valueText, &value) || !std::isfinite(value))
    throw UsageError("the value of " + found->name + " must be a number, got '" + valueText + "'");
  const std::string label = UnitLabel(found->info);
  if (value < found->info.minValue || value > found->info.maxValue)
    throw UsageError(found->name + " must be between " + Number(found->info.minValue) + " and " +
                     Number(found->info.maxValue) + (label.empty() ? "" : " " + label) + ", got " + valueText);
  return {*found, static_cast<float>(value)};
}

std::optional<PresetDescription> ApplyUnitSettings(PluginInstance& unit, const UnitSettings& settings) {
  std::optional<PresetDescription> chosen;
  const std::vector<PresetDescription> presets = unit.FactoryPresets();
  if (!settings.stateFile.empty()) {
    CFRef<CFPropertyListRef> state = ReadStateFile(settings.stateFile);
    CheckStateBelongsTo(unit, static_cast<CFDictionaryRef>(state.get()), settings.stateFile);
    unit.RestoreState(state.get());
    // A restore leaves a user preset named after the saved one; a factory
    // preset's name brings that preset, and with it the measure and mode, back.
    const PresetDescription current = unit.CurrentPreset();
    for (const PresetDescription& p : presets)
      if (p.name == current.name) chosen = p;
  }
  if (settings.preset) chosen = ResolvePreset(presets, *settings.preset, unit.Name());
  if (chosen) unit.SelectFactoryPreset(*chosen);

  const std::vector<ParameterDescription> parameters = unit.Parameters();
  for (const std::string& assignment : settings.params) {
    const ParameterAssignment a = ResolveParameter(parameters, assignment, unit.Name());
    unit.SetParameter(a.parameter.id, a.value);
  }
  return chosen;
}
