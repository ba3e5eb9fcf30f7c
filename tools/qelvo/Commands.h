// The subcommands of qelvo. Each returns the exit status; failures the user
// can act on are thrown as ToolError.
#pragma once

#include <string>
#include <vector>

#include "tools/qelvo/BridgeLevels.h"
#include "tools/qelvo/Render.h"
#include "tools/qelvo/UnitSettings.h"

struct InfoOptions {
  std::string plugin;     // empty: list the installed ones
  bool response = false;  // print the frequency-response curve
  std::string responsePicture;  // or draw it into this PNG
  double sampleRate = 44100;
};
int RunInfoCommand(const InfoOptions& options);

struct StateSaveOptions {
  UnitSettings unit;
  std::string file;
  double sampleRate = 44100;
};
int RunStateSaveCommand(const StateSaveOptions& options);

struct PostOptions {
  std::string symbol;
  std::string level;
};
int RunPostCommand(const PostOptions& options);

struct ReplayOptions {
  std::string file;
  double speed = 1.0;
  bool loop = false;
};
int RunReplayCommand(const ReplayOptions& options);

struct MonitorOptions {
  long long count = 0;     // stop after this many notifications; 0: never
  double timeout = 0;      // stop after this many seconds; 0: never
  std::string plot;        // draw what was seen into this PNG at the end
};
int RunMonitorCommand(const MonitorOptions& options);

struct BridgeOptions {
  int port = 0;
  std::string mapFile;
  std::string bindAddress = "127.0.0.1";
  double timeout = 0;  // seconds; 0: until interrupted
  bool verbose = false;
  BridgeLevelOptions levels;  // --calibrate, --save-calibration, --calibration
};
int RunBridgeCommand(const BridgeOptions& options);

struct DemoOptions {
  std::string outDir = "qelvo-demo";
};
int RunDemoCommand(const DemoOptions& options);
