// What `qelvo live` shows: the status line redrawn on a terminal while it
// runs, and the summary when it stops.
#pragma once

#include <optional>
#include <string>

#include "effect/ModulationReport.h"
#include "tools/qelvo/LiveProcessor.h"

struct LiveStatus {
  std::string symbol;                       // the measure followed; empty when unknown
  std::optional<ModulationReport> report;   // the unit's own account, when it gives one
  uint64_t levels = 0;                      // received so far
  double sampleRate = 0;                    // 0: not negotiated yet
  uint32_t quantum = 0;
  uint64_t xruns = 0;
  double averageShare = -1;                 // callback time / cycle time lately; < 0: no cycles lately
  double peakShare = 0;                     // the longest callback lately, same measure
};

// One line without a line end, e.g.
// "BS7V0 12.5 | gain x1.25  cutoff x2.18 | filter | 256 @ 48000 Hz | xruns 0 | callback 1.2% (peak 3.4%)".
std::string LiveStatusLine(const LiveStatus& status);

struct LiveSummary {
  double seconds = 0;          // of audio processed
  uint64_t levels = 0;
  uint64_t skippedCycles = 0, lateCycles = 0, missingBuffers = 0;  // the xruns
  uint64_t renderFailures = 0;
  uint64_t longestNs = 0;
  double longestShare = 0;
  double averageShare = 0;     // all callbacks' time over all cycles' time
};

// "qelvo live: stopped after 12.3 s of audio: 4 levels received, 3 xruns
// (2 skipped cycles, 1 late), longest callback 57 us (at most 2.3% of a
// cycle, 0.4% on average)"
std::string LiveSummaryLine(const LiveSummary& summary);
