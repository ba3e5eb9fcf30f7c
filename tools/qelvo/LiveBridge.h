// `qelvo live --osc PORT [--map FILE]`: the OSC bridge, running in this
// process beside the live node, so one command connects an EEG app to the
// sound. Its levels reach the unit the way every level does, through the
// notification centre.
#pragma once

#include <memory>
#include <string>

class LiveOscBridge {
 public:
  virtual ~LiveOscBridge() = default;
  // Why the bridge stopped by itself (the port is taken, ...); empty while it runs.
  virtual std::string Failure() const = 0;
};

// Starts the bridge on 127.0.0.1:port with the map file (empty: /kest/level).
// A bad map file is a usage error here; a port that cannot be had shows in
// Failure() shortly after. Destroying the result stops the bridge.
std::unique_ptr<LiveOscBridge> StartLiveOscBridge(int port, const std::string& mapFile);
