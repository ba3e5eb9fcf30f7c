// PNG pictures of a render: the level followed, the factor it became, the
// output's spectrogram over time with the cutoff applied (filter mode) or the
// output's level (gain mode), and the unit's frequency-response curves.
#pragma once

#include <string>
#include <vector>

#include "tools/qelvo/LevelTraces.h"
#include "tools/qelvo/Spectrogram.h"

// Values that hold from their time until the next one.
struct StepSeries {
  std::vector<double> times;
  std::vector<double> values;
};

struct ResponseCurve {
  std::vector<double> frequencies;  // Hz, rising
  std::vector<double> magnitudes;   // linear
  std::string label;                // e.g. "cutoff parameter 1000 Hz, resonance 0 dB"
  double cutoff = 0;                // Hz the curve was made for
};

struct RenderPicture {
  std::string title;
  double duration = 0;  // seconds of audio
  std::string levelLabel;
  StepSeries level;
  std::string factorLabel;
  StepSeries factor;
  Spectrogram spectrogram;
  // Filter mode: the cutoff the unit rendered with, in Hz, drawn over the
  // spectrogram; empty in gain mode.
  StepSeries appliedCutoff;
  // Gain mode: RMS level of the output, with the input's for reference;
  // empty in filter mode, which then has no level panel.
  LevelTrack outputLevel;
  LevelTrack inputLevel;
  // The unit's own curve, for its cutoff parameter.
  ResponseCurve response;
  // Filter mode: curves at the cutoffs applied during the render, lowest
  // cutoff first; drawn as a band around the unit's own curve.
  std::vector<ResponseCurve> appliedResponses;
};

// Both write through AtomicOutput; failures throw ToolError.
void DrawRenderPicture(const RenderPicture& picture, const std::string& path);
void DrawResponsePicture(const ResponseCurve& curve, const std::string& title, const std::string& path);
// What a monitor saw: for each symbol, its raw values by fate (when the
// bridge sent them) above the levels posted.
void DrawLevelTraces(const LevelTraces& traces, const std::string& title, const std::string& path);
