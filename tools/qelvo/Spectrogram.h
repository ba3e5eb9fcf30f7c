// Short-time spectra of a signal, for pictures.
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

// Hann-windowed spectra of windowSize samples (a power of two) every hop samples.
Spectrogram ComputeSpectrogram(const std::vector<float>& signal, double sampleRate, int windowSize, int hop);
