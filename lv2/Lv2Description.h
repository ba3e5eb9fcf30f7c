// Writes the LV2 description of one deliverable (manifest.ttl, the plug-in
// file and the factory presets) from the same tables the native unit answers
// its host from.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "effect/FilterParameters.h"

struct Lv2DescriptionInput {
  std::string name;                      // deliverable name, e.g. "AUQelvoBS7"
  std::string binary;                    // wrapper file name inside the bundle
  std::vector<std::string> presetNames;  // in preset-number order
  int minorVersion = 0;
  int microVersion = 0;
  // One control input each, in this order (the ports follow, lv2/Lv2Ports.h).
  FilterParameterTable parameters = kFilterParameters;
};

// [any] These run in the build's description program (lv2/Lv2TtlMain.cpp).
void WriteLv2Manifest(std::ostream& out, const Lv2DescriptionInput& in);
void WriteLv2Plugins(std::ostream& out, const Lv2DescriptionInput& in);
// The factory presets as LV2 presets of both plug-ins, in presets.ttl.
void WriteLv2Presets(std::ostream& out, const Lv2DescriptionInput& in);
std::string Lv2PresetsFileName();
// The symbols of the control ports, in port order.
std::vector<std::string> Lv2ControlSymbols(const Lv2DescriptionInput& in);
// The plug-in file's name in the bundle, e.g. "AUQelvoBS7.ttl".
std::string Lv2PluginFileName(const Lv2DescriptionInput& in);
