#include "tools/qelvo/Spectrogram.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <mutex>
#include <numbers>

#include "tools/qelvo/ToolError.h"

namespace {

// The library's planner keeps global state; only executing a plan may run
// on several threads at once.
std::mutex& PlannerMutex() {
  static std::mutex m;
  return m;
}

struct FftwFree {
  void operator()(void* p) const { fftw_free(p); }
};

class RealTransform {
 public:
  explicit RealTransform(size_t n)
      : in_(static_cast<double*>(fftw_malloc(sizeof(double) * n))),
        out_(static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1)))) {
    if (!in_ || !out_) throw ToolError("out of memory for a spectrum of " + std::to_string(n) + " samples");
    // Estimating rather than measuring: the plan is used for one picture and
    // must not depend on timing, so every run draws the same pixels.
    std::lock_guard<std::mutex> lock(PlannerMutex());
    plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(n), in_.get(), out_.get(), FFTW_ESTIMATE);
    if (plan_ == nullptr) throw ToolError("cannot plan a spectrum of " + std::to_string(n) + " samples");
  }
  RealTransform(const RealTransform&) = delete;
  RealTransform& operator=(const RealTransform&) = delete;
  ~RealTransform() {
    std::lock_guard<std::mutex> lock(PlannerMutex());
    fftw_destroy_plan(plan_);
  }

  double* In() { return in_.get(); }
  void Run() { fftw_execute(plan_); }
  double Magnitude(size_t bin) const { return std::hypot(out_.get()[bin][0], out_.get()[bin][1]); }

 private:
  std::unique_ptr<double, FftwFree> in_;
  std::unique_ptr<fftw_complex, FftwFree> out_;
  fftw_plan plan_ = nullptr;
};

}  // namespace

Spectrogram ComputeSpectrogram(const std::vector<float>& signal, double sampleRate, int windowSize, int hop) {
  if (windowSize < 2 || hop < 1)
    throw ToolError("a spectrogram needs a window of at least 2 samples and a hop of at least 1, not " +
                    std::to_string(windowSize) + " and " + std::to_string(hop));
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
  RealTransform fft(n);
  for (size_t start = 0; start + n <= signal.size(); start += static_cast<size_t>(hop)) {
    double* in = fft.In();
    for (size_t i = 0; i < n; ++i) in[i] = signal[start + i] * window[i];
    fft.Run();
    std::vector<float> column(n / 2 + 1);
    for (size_t b = 0; b <= n / 2; ++b) {
      // A full-scale sine gives amplitude windowSum / 2 in its bin.
      const double magnitude = fft.Magnitude(b) / (windowSum / 2.0);
      column[b] = static_cast<float>(20.0 * std::log10(std::max(magnitude, 1e-9)));
    }
    s.columns.push_back(std::move(column));
  }
  return s;
}

LevelTrack ComputeLevelTrack(const std::vector<float>& signal, double sampleRate, int windowSize, int hop) {
  if (windowSize < 1 || hop < 1)
    throw ToolError("a level track needs a window and a hop of at least 1 sample, not " +
                    std::to_string(windowSize) + " and " + std::to_string(hop));
  LevelTrack track;
  const size_t n = static_cast<size_t>(windowSize);
  for (size_t start = 0; start + n <= signal.size(); start += static_cast<size_t>(hop)) {
    double sum = 0;
    for (size_t i = start; i < start + n; ++i) sum += static_cast<double>(signal[i]) * signal[i];
    const double rms = std::sqrt(sum / static_cast<double>(n));
    track.times.push_back((static_cast<double>(start) + static_cast<double>(n) / 2.0) / sampleRate);
    track.db.push_back(20.0 * std::log10(std::max(rms, 1e-10)));
  }
  return track;
}
