// qelvo live: one deliverable as a node of the desktop's audio graph, a
// virtual sink by default or processing a source with --capture, following
// levels from the session bus (and, with --osc, from an OSC sender through
// the bridge in the same process) until Ctrl-C or SIGTERM.
#pragma once

#include <cstdint>
#include <string>

#include "tools/qelvo/UnitSettings.h"

namespace CLI {
class App;
}

struct LiveOptions {
  UnitSettings unit;
  bool capture = false;
  std::string captureTarget;  // with capture: empty for the default source
  std::string target;         // output sink; empty: the default one
  uint32_t channels = 0;      // 0: 2, or the capture target's
  int oscPort = -1;           // -1: no bridge
  std::string mapFile;
  std::string calibrationFile;  // a baseline for the map's adaptive rules
  std::string recordLevels;   // CSV in the render --levels format
  std::string recordInput;    // the unit's input, float WAV
  bool quiet = false;
  double duration = 0;        // seconds of wall time; 0: until stopped
  double answerTimeout = 5;   // for the server at start
};

// The options of `qelvo live` beyond the unit's.
void AddLiveOptions(CLI::App* command, LiveOptions& options);

int RunLiveCommand(const LiveOptions& options);
