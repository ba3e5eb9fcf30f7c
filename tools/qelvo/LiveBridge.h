// `qelvo live --osc PORT [--map FILE]`: the OSC bridge, running in this
// process beside the live node, so one command connects an EEG app to the
// sound. Its levels reach the unit the way every level does, through the
// notification centre.
#pragma once

#include <memory>
#include <string>

class OscBridge;
class LevelPoster;

class LiveOscBridge {
 public:
  // [control] Listens on 127.0.0.1:port (0: a free one) with the map file
  // (empty: /kest/level), its adaptive rules started from the calibration
  // file if one is given, and says where on stdout. A bad map is a usage
  // error, a bad calibration or a port that cannot be had a ToolError, all
  // before live runs.
  LiveOscBridge(int port, const std::string& mapFile, const std::string& calibrationFile = "");
  // [control] Stops receiving and prints the bridge's summary, a line for
  // each map rule among it.
  ~LiveOscBridge();

 private:
  std::unique_ptr<LevelPoster> poster_;
  std::unique_ptr<OscBridge> bridge_;
};
