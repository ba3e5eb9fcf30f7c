#include "tools/qelvo/LiveBridge.h"

#include <cstdio>

#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/OscBridge.h"
#include "tools/qelvo/ToolError.h"

LiveOscBridge::LiveOscBridge(int port, const std::string& mapFile, const std::string& calibrationFile) {
  if (port < 0 || port > 65535) throw UsageError("--osc must be a UDP port between 0 and 65535");
  BridgeMap map = mapFile.empty() ? BridgeMap{} : ReadBridgeMap(mapFile);
  // Levels that cannot be posted while the bus is away are dropped and
  // counted, as in `qelvo bridge`.
  poster_ = std::make_unique<LevelPoster>(CFNotificationCenterGetDistributedCenter(), "live");
  LevelPoster* poster = poster_.get();
  BridgeLevelOptions levels;
  levels.command = "live";
  levels.calibrationFile = calibrationFile;
  bridge_ = std::make_unique<OscBridge>(
      std::move(map), "127.0.0.1", port, [poster](const ShapedLevel& level) { return poster->Post(level); },
      OscBridge::Log{}, levels);
  std::printf("qelvo live: listening for OSC on udp %s (%s), posting levels to the session bus\n",
              bridge_->BoundAddress().c_str(), mapFile.empty() ? kDefaultBridgeAddress : mapFile.c_str());
  std::fflush(stdout);
  bridge_->Levels().SayWhoWarmsUp();
  bridge_->Start();
}

LiveOscBridge::~LiveOscBridge() {
  bridge_->Stop();
  std::printf("qelvo live: OSC bridge: %s\n", OscBridgeSummary(bridge_->Counts()).c_str());
  bridge_->Levels().Finish(false);
  std::fflush(stdout);
}
