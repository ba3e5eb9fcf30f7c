// Rendering a stream through an open unit, slice by slice, with levels
// delivered in step with the audio.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/Progress.h"
#include "tools/qelvo/UnitSettings.h"

class RenderSource {
 public:
  virtual ~RenderSource() = default;
  // Up to frames frames into channels[c]; fewer only at the end.
  virtual size_t Read(float* const* channels, size_t frames) = 0;
};

class RenderSink {
 public:
  virtual ~RenderSink() = default;
  virtual void Write(const float* const* channels, size_t frames) = 0;
};

struct RenderLoopOptions {
  UInt32 block = 512;
  // Levels delivered in this process before the slice that holds each
  // one's time; null for none.
  const std::vector<LevelEvent>* levels = nullptr;
  // A live render keeps pace with the clock, so levels from the bus land
  // where they belong in the audio.
  bool paceToRealTime = false;
  ProgressBar* progress = nullptr;
};
// The loop also ends, before the next slice, once Interrupted() (see
// Interrupt.h); what was rendered until then has reached the sink.

struct RenderStats {
  long long frames = 0;
  double wallSeconds = 0;
  uint64_t levelsDelivered = 0;
  uint64_t levelsFollowed = 0;  // of those, for the measure the preset follows
  uint64_t levelsAfterEnd = 0;  // recorded past the end of the audio
  bool interrupted = false;     // ended early by a signal
};

// followedSymbol: the measure of the chosen preset, for the statistics.
RenderStats RunRenderLoop(PluginInstance& unit, double sampleRate, int channels, RenderSource& source,
                          RenderSink& sink, const RenderLoopOptions& options, const std::string& followedSymbol);

// The measure and mode the unit follows with this preset, for messages; none
// when the family cannot be told.
std::optional<PresetMeasure> FollowedMeasure(const PluginInstance& unit, const std::optional<PresetDescription>& preset);

struct RenderCommandOptions {
  UnitSettings unit;
  std::string input;
  std::string output;       // "-": standard output
  std::string format;       // empty: from the output's extension, else the input's
  std::string levelsFile;   // "-": standard input
  bool live = false;
  UInt32 block = 512;
  bool quiet = false;       // errors and the interruption notice only
  bool verbose = false;     // also what was chosen and why
};

// Renders IN to OUT. The first SIGINT or SIGTERM ends the render at the next
// slice; the output is finished and kept with what was rendered, and the
// status is 130 or 143. A second signal removes the unfinished output and
// ends the program at once.

int RunRenderCommand(const RenderCommandOptions& options);

// Largest slice the host asks for.
constexpr UInt32 kMaxBlockFrames = 16384;
