#include "tools/qelvo/Synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

// A small, fixed pseudo-random sequence: the demo must be the same everywhere.
class Noise {
 public:
  explicit Noise(uint64_t seed) : state_(seed) {}
  double Next() {  // uniform in [-1, 1)
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

 private:
  uint64_t state_;
};

// Pink noise by filtering white noise with a sum of first-order sections
// (a standard -3 dB/octave approximation over the audible range).
class PinkFilter {
 public:
  double Process(double white) {
    b0_ = 0.99886 * b0_ + white * 0.0555179;
    b1_ = 0.99332 * b1_ + white * 0.0750759;
    b2_ = 0.96900 * b2_ + white * 0.1538520;
    b3_ = 0.86650 * b3_ + white * 0.3104856;
    b4_ = 0.55000 * b4_ + white * 0.5329522;
    b5_ = -0.7616 * b5_ - white * 0.0168980;
    const double pink = b0_ + b1_ + b2_ + b3_ + b4_ + b5_ + b6_ + white * 0.5362;
    b6_ = white * 0.115926;
    return pink * 0.11;
  }

 private:
  double b0_ = 0, b1_ = 0, b2_ = 0, b3_ = 0, b4_ = 0, b5_ = 0, b6_ = 0;
};

}  // namespace

std::vector<std::vector<float>> SynthesizeDemoInput(double sampleRate, double seconds, int channels) {
  const size_t frames = static_cast<size_t>(std::llround(sampleRate * seconds));
  std::vector<std::vector<float>> out(static_cast<size_t>(channels), std::vector<float>(frames));
  // A minor chord over two octaves, each note with a few harmonics so the
  // low-pass filter has something to take away.
  const double notes[] = {110.0, 220.0, 261.63, 329.63, 440.0};
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  for (int c = 0; c < channels; ++c) {
    Noise noise(0x51E1'7000ull + static_cast<uint64_t>(c));
    PinkFilter pink;
    for (size_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / sampleRate;
      double chord = 0;
      for (double f : notes)
        for (int h = 1; h <= 4; ++h) chord += std::sin(kTwoPi * f * h * t + c * 0.3 * h) / (h * h);
      // Half a second of fade at each end avoids clicks.
      const double fade = std::min({1.0, t / 0.5, (seconds - t) / 0.5});
      const double sample = (0.5 * pink.Process(noise.Next()) + 0.06 * chord) * std::max(fade, 0.0);
      out[static_cast<size_t>(c)][i] = static_cast<float>(sample);
    }
  }
  return out;
}
