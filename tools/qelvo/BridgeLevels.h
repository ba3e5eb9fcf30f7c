// The bridge's levels on their way out. Each value a map rule reads goes
// through the LevelNormaliser; the sink posts what is due as a level and
// announces a value held, dropped or still warming up (for `qelvo monitor`),
// the log gets a line for every fate, and at the end a summary gives each
// rule's counts and statistics and, for --calibrate, the calibration is
// written.
//
// Whoever receives the OSC messages calls Take() for every translated
// message, Tick() whenever it wakes, and Finish() once at the end; all on
// one thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/Calibration.h"
#include "tools/qelvo/LevelNormaliser.h"

struct BridgeLevelOptions {
  std::string command = "bridge";  // for messages: "qelvo bridge: ..."
  std::string calibrationFile;     // --calibration: start from it
  double calibrateSeconds = 0;     // --calibrate: collect for this long...
  std::string saveCalibration;     // ...and write it here
};

class BridgeLevels {
 public:
  // Posts a level (fate kPosted): true when posted, false when it had to be
  // dropped. Announces a value it did not post (the other fates; the result
  // does not count).
  using Sink = std::function<bool(const ShapedLevel& level)>;
  // One line on the fate of each value, for --verbose; may be empty.
  using Log = std::function<void(const std::string& line)>;

  // Reads and checks the calibration (ToolError naming file and line). The
  // map must outlive this.
  BridgeLevels(const BridgeMap& map, const BridgeLevelOptions& options);
  BridgeLevels(const BridgeLevels&) = delete;
  BridgeLevels& operator=(const BridgeLevels&) = delete;

  // The clock starts here; levels go to the sink from now on.
  void Start(Sink sink, Log log);
  // Says on stderr which rules post nothing at first, while they warm up.
  void SayWhoWarmsUp() const;

  struct Emitted {
    long long posted = 0;
    long long dropped = 0;  // the sink could not post them
  };
  // One translated message from address.
  Emitted Take(const BridgeResult& result, const std::string& address);
  // Posts the levels whose turn under rate= has come.
  Emitted Tick();
  // Whether any rule has rate=, so the caller must wake now and then for
  // Tick() even when nothing arrives.
  bool NeedsTicks() const { return needsTicks_; }

  // Prints each rule's summary on stdout; with --calibrate writes the
  // calibration, or throws ToolError when the run was cut short or saw no
  // values.
  void Finish(bool interrupted);
  // The summary lines, one per rule that saw values.
  std::vector<std::string> Summary() const;

 private:
  double Now() const;
  Emitted Emit(const std::vector<ShapedLevel>& shaped, const std::string& from);
  void Say(const std::string& line) const {
    if (log_) log_(line);
  }

  const BridgeMap& map_;
  BridgeLevelOptions options_;
  Calibration calibration_;
  LevelNormaliser normaliser_;
  std::vector<bool> contactShown_;
  bool needsTicks_ = false;
  Sink sink_;
  Log log_;
  std::chrono::steady_clock::time_point start_;
};
