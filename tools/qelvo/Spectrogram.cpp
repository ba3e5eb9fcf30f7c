#include "tools/qelvo/Spectrogram.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace {

// In-place radix-2 transform; size is a power of two.
void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

}  // namespace

Spectrogram ComputeSpectrogram(const std::vector<float>& signal, double sampleRate, int windowSize, int hop) {
  Spectrogram s;
  s.sampleRate = sampleRate;
  s.windowSize = windowSize;
  s.hop = hop;
  const size_t n = static_cast<size_t>(windowSize);
  std::vector<double> window(n);
  double windowSum = 0;
  for (size_t i = 0; i < n; ++i) {
    window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
    windowSum += window[i];
  }
  std::vector<std::complex<double>> buffer(n);
  for (size_t start = 0; start + n <= signal.size(); start += static_cast<size_t>(hop)) {
    for (size_t i = 0; i < n; ++i) buffer[i] = signal[start + i] * window[i];
    Fft(buffer);
    std::vector<float> column(n / 2 + 1);
    for (size_t b = 0; b <= n / 2; ++b) {
      // A full-scale sine gives amplitude windowSum / 2 in its bin.
      const double magnitude = std::abs(buffer[b]) / (windowSum / 2.0);
      column[b] = static_cast<float>(20.0 * std::log10(std::max(magnitude, 1e-9)));
    }
    s.columns.push_back(std::move(column));
  }
  return s;
}
