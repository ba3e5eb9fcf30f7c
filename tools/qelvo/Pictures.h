// PNG pictures of a render: the level followed, the factor it became, the
// output's spectrogram over time and the unit's frequency-response curve.
#pragma once

#include <string>
#include <vector>

#include "tools/qelvo/Spectrogram.h"

// Values that hold from their time until the next one.
struct StepSeries {
  std::vector<double> times;
  std::vector<double> values;
};

struct ResponseCurve {
  std::vector<double> frequencies;  // Hz, rising
  std::vector<double> magnitudes;   // linear
  std::string label;                // e.g. "cutoff 1000 Hz, resonance 0 dB"
};

struct RenderPicture {
  std::string title;
  double duration = 0;  // seconds of audio
  std::string levelLabel;
  StepSeries level;
  std::string factorLabel;
  StepSeries factor;
  Spectrogram spectrogram;
  ResponseCurve response;
};

// Both write through AtomicOutput; failures throw ToolError.
void DrawRenderPicture(const RenderPicture& picture, const std::string& path);
void DrawResponsePicture(const ResponseCurve& curve, const std::string& title, const std::string& path);
