// The installed deliverables, as the component loader finds them, and what a
// host can tell about each one's measures.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ComponentLoader.h"

struct InstalledPlugin {
  Component component = nullptr;
  std::string name;
  std::string identifier;
  std::string path;
  ComponentDescription description{};
};

std::vector<InstalledPlugin> InstalledPlugins();

// The component with that name (bundle name, identifier or display name);
// otherwise a usage error listing what is installed and where it looked.
Component FindInstalledPlugin(const std::string& name);

struct PresetMeasure {
  std::string symbol;  // the measure followed, "BS7V0"
  double scale = 0;    // applied to each level before the mapping
  bool filterMode = false;
};

// The measure a preset number follows in a family (a unit's variant index,
// PluginInstance::VariantIndex); empty for numbers outside the family.
std::optional<PresetMeasure> MeasureForPreset(int variant, int preset);

// The measures some preset of a family follows, in preset order, each once.
std::vector<std::string> FamilyMeasures(int variant);
// Every measure name the analyser sends and some deliverable can follow.
std::vector<std::string> AllMeasureNames();
