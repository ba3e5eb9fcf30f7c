// A calibration: the statistics each rule of a map reached over a baseline,
// written by `qelvo bridge --calibrate SECONDS --save-calibration FILE` and
// read by `--calibration FILE`. A small text file (docs/osc-bridge.md):
//
//   qelvo-calibration 1
//   # address                      argument symbol values=N seconds=S mean=M sd=D median=X mad=Y quantiles=Q0,Q5,...,Q100
//   /muse/elements/alpha_absolute  *        BS3V0  values=600 seconds=59.9 ... quantiles=0.11,0.2,...,1.4
//
// Entries are matched to a map's rules by address, argument and symbol.
// Numbers are written in the shortest form that reads back exactly, so a
// saved calibration starts the next session exactly where this one ended.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/qelvo/BridgeMap.h"

class SampleWindow;

// Quantiles at 0, 5, 10, ..., 100 percent.
inline constexpr size_t kCalibrationQuantiles = 21;

struct CalibrationEntry {
  std::string address;
  int argument = 0;  // -1: the mean of all arguments
  std::string symbol;
  long long values = 0;  // values seen
  double seconds = 0;    // from the first to the last
  double mean = 0, sd = 0, median = 0, mad = 0;
  std::vector<double> quantiles;  // kCalibrationQuantiles, not decreasing
  int line = 0;                   // where it was read, for messages
};

struct Calibration {
  std::vector<CalibrationEntry> entries;
};

// The entry for a rule, from the values a window collected.
CalibrationEntry MakeCalibrationEntry(const BridgeRule& rule, const SampleWindow& values, long long count,
                                      double seconds);

std::string FormatCalibration(const Calibration& calibration);
// Throws ToolError naming sourceName:line for anything out of place.
Calibration ParseCalibration(std::string_view text, const std::string& sourceName);
Calibration ReadCalibration(const std::string& path);
void WriteCalibration(const Calibration& calibration, const std::string& path);

// For each rule of the map, the entry that calibrates it or null: the first
// unused entry with the rule's address, argument and symbol. Notes what does
// not match (entries for no rule) into warnings.
std::vector<const CalibrationEntry*> MatchCalibration(const Calibration& calibration, const BridgeMap& map,
                                                      const std::string& sourceName,
                                                      std::vector<std::string>* warnings);
