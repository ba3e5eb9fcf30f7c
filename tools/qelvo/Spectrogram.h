// Short-time analyses of a signal, for pictures: spectra and RMS level.
#pragma once

#include <vector>

struct Spectrogram {
  double sampleRate = 0;
  int windowSize = 0;
  int hop = 0;
  // columns[t][bin], magnitude in dB relative to a full-scale sine; bins
  // 0..windowSize/2.
  std::vector<std::vector<float>> columns;
};

// Hann-windowed spectra of windowSize samples every hop samples (any sizes
// of at least 2 and 1; a ToolError otherwise). [any]: planning the transform
// is serialised inside.
Spectrogram ComputeSpectrogram(const std::vector<float>& signal, double sampleRate, int windowSize, int hop);

// RMS level of windows of windowSize samples every hop samples.
struct LevelTrack {
  std::vector<double> times;  // seconds, the middle of each window
  std::vector<double> db;     // 20 log10(RMS), 0 dB for a constant 1.0; -200 for silence
};
LevelTrack ComputeLevelTrack(const std::vector<float>& signal, double sampleRate, int windowSize, int hop);
