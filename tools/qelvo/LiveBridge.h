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
  // (empty: /kest/level) and says where on stdout. A bad map is a usage
  // error, a port that cannot be had a ToolError, both before live runs.
  LiveOscBridge(int port, const std::string& mapFile);
  // [control] Stops receiving and prints the bridge's summary.
  ~LiveOscBridge();

 private:
  std::unique_ptr<LevelPoster> poster_;
  std::unique_ptr<OscBridge> bridge_;
};
