// qelvo bridge: OSC over UDP in, level notifications on the bus out. The
// receiving, mapping and shaping are OscBridge's; this is the command around
// it.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "tools/qelvo/BridgeLevels.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/OscBridge.h"
#include "tools/qelvo/ToolError.h"

int RunBridgeCommand(const BridgeOptions& options) {
  if (options.port < 0 || options.port > 65535) throw UsageError("--osc-port must be between 0 and 65535");
  if (options.timeout < 0 || !std::isfinite(options.timeout)) throw UsageError("--timeout must not be negative");
  BridgeMap map = options.mapFile.empty() ? BridgeMap{} : ReadBridgeMap(options.mapFile);
  // A calibration run ends when its baseline is collected.
  const double timeout = options.levels.calibrateSeconds > 0 ? options.levels.calibrateSeconds : options.timeout;
  CFNotificationCenterRef center = RequireBus("bridge");
  // A level that cannot be posted while the bus is away is dropped and
  // counted; the bridge keeps running and posts again once it is back.
  LevelPoster poster(center, "bridge");
  OscBridge::Log log;
  if (options.verbose)
    log = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  OscBridge bridge(
      std::move(map), options.bindAddress, options.port,
      [&poster](const ShapedLevel& level) { return poster.Post(level); }, log, options.levels);
  CatchInterrupts();
  std::printf("qelvo bridge: listening for OSC on udp %s (%s), posting levels to the session bus\n",
              bridge.BoundAddress().c_str(), options.mapFile.empty() ? kDefaultBridgeAddress : options.mapFile.c_str());
  std::fflush(stdout);
  bridge.Levels().SayWhoWarmsUp();

  const auto start = std::chrono::steady_clock::now();
  while (!Interrupted()) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timeout > 0 && elapsed >= timeout) break;
    bridge.Poll(50);
  }
  std::printf("qelvo bridge: %s\n", OscBridgeSummary(bridge.Counts()).c_str());
  bridge.Levels().Finish(Interrupted());
  return kExitOk;
}
