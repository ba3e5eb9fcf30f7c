// The bridge's levels on their way to the bus. Each value a map rule reads
// goes through the LevelNormaliser; what is due is posted as a level
// notification, a value held, dropped or still warming up is announced for
// `qelvo monitor` (LevelNotifications.h), --verbose prints every fate, and at
// the end a summary gives each rule's counts and statistics and, for
// --calibrate, the calibration is written.
//
// The bridge calls Take() for every translated message, Tick() whenever it
// wakes, and Finish() once at the end; all on the bridge's own thread.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Notifications.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Calibration.h"
#include "tools/qelvo/LevelNormaliser.h"

struct BridgeLevelOptions {
  bool verbose = false;
  std::string calibrationFile;  // --calibration: start from it
  double calibrateSeconds = 0;  // --calibrate: collect for this long...
  std::string saveCalibration;  // ...and write it here
};

class BridgeLevels {
 public:
  // Reads and checks the calibration (ToolError naming file and line). The
  // map must outlive this.
  BridgeLevels(const BridgeMap& map, const BridgeLevelOptions& options);
  BridgeLevels(const BridgeLevels&) = delete;
  BridgeLevels& operator=(const BridgeLevels&) = delete;

  // Levels go to this centre from now on; the clock starts here. Says on
  // stderr which rules warm up first.
  void Start(CFNotificationCenterRef center);
  // One translated message from address; returns the levels posted.
  long long Take(const BridgeResult& result, const std::string& address);
  // Posts the levels whose turn under rate= has come; returns how many.
  long long Tick();
  // Prints each rule's summary; with --calibrate writes the calibration,
  // or throws ToolError when the run was cut short or saw no values.
  void Finish(bool interrupted);

  // The summary lines Finish() prints, one per rule that saw values.
  std::vector<std::string> Summary() const;

 private:
  double Now() const;
  long long Emit(const std::vector<ShapedLevel>& shaped, const std::string& from);

  const BridgeMap& map_;
  BridgeLevelOptions options_;
  Calibration calibration_;
  LevelNormaliser normaliser_;
  std::vector<bool> contactShown_;
  CFNotificationCenterRef center_ = nullptr;
  std::chrono::steady_clock::time_point start_;
};
