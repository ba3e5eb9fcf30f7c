// What a render says about a level recording's symbols: those the plug-in
// never follows (with the likely intended one for a typo), and a recording
// none of whose levels reach the preset's measure.
#pragma once

#include <string>
#include <vector>

#include "tools/qelvo/LevelCsv.h"

struct LevelSymbolCheck {
  std::string source;                        // the recording's name, for messages
  std::string plugin;                        // "AUQelvoBS7"
  std::vector<std::string> familyMeasures;   // what some preset of the plug-in follows
  std::vector<std::string> knownMeasures;    // what any plug-in follows
  std::string followed;                      // the measure of the chosen preset
  std::string preset;                        // "preset 1 \"LCH Count-Filter\"", for messages
};

// Warning texts (without the "qelvo: warning: " lead), at most one per kind.
// Names the first three symbols the plug-in never follows, each with its
// first line, and suggests the nearest of the family's measures for a symbol
// that is no measure at all ("BS7VO": did you mean BS7V0?).
std::vector<std::string> LevelSymbolWarnings(const std::vector<LevelEvent>& levels, const LevelSymbolCheck& check);
