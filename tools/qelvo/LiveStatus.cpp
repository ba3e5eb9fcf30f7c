#include "tools/qelvo/LiveStatus.h"

#include <cstdio>

namespace {

std::string Format(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

std::string Percent(double share) { return Format(share < 0.1 ? "%.1f%%" : "%.0f%%", share * 100.0); }

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string LiveStatusLine(const LiveStatus& s) {
  std::string line = s.symbol.empty() ? "level" : s.symbol;
  if (s.report && s.levels > 0)
    line += " " + Format("%.4g", s.report->mLevel);
  else
    line += " -";
  if (s.report) {
    line += " | gain x" + Format("%.2f", s.report->mGainFactor) + "  cutoff x" + Format("%.2f", s.report->mCutoffFactor);
    line += s.report->mFilterMode != 0 ? " | filter" : " | gain";
  }
  if (s.sampleRate > 0)
    line += " | " + std::to_string(s.quantum) + " @ " + Format("%.0f", s.sampleRate) + " Hz";
  else
    line += " | waiting for the graph";
  line += " | xruns " + std::to_string(s.xruns);
  if (s.averageShare >= 0) line += " | callback " + Percent(s.averageShare) + " (peak " + Percent(s.peakShare) + ")";
  return line;
}

std::string LiveSummaryLine(const LiveSummary& s) {
  const uint64_t xruns = s.skippedCycles + s.lateCycles + s.missingBuffers;
  std::string line = "qelvo live: stopped after " + Format("%.1f", s.seconds) + " s of audio: " +
                     Plural(s.levels, "level", "levels") + " received, " + Plural(xruns, "xrun", "xruns");
  if (xruns > 0) {
    std::string kinds;
    if (s.skippedCycles > 0) kinds += Plural(s.skippedCycles, "skipped cycle", "skipped cycles");
    if (s.lateCycles > 0) kinds += (kinds.empty() ? "" : ", ") + std::to_string(s.lateCycles) + " late";
    if (s.missingBuffers > 0)
      kinds += (kinds.empty() ? "" : ", ") + std::to_string(s.missingBuffers) + " without buffers";
    line += " (" + kinds + ")";
  }
  if (s.renderFailures > 0) line += ", " + Plural(s.renderFailures, "failed render", "failed renders");
  line += ", longest callback " + Format("%.0f", static_cast<double>(s.longestNs) / 1000.0) + " us";
  if (s.longestShare > 0)
    line += " (at most " + Percent(s.longestShare) + " of a cycle, " + Percent(s.averageShare) + " on average)";
  return line;
}
