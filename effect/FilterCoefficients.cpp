#include "effect/FilterCoefficients.h"

#include <cmath>
#include <numbers>

// Every expression below is evaluated in the order written (no contraction):
// stored curves and rendered audio depend on the exact roundings.

FilterCoefficients FilterCoefficients::Lopass(Float64 cutoff, Float64 resonance) {
  const Float64 r = std::pow(10.0, -0.05 * resonance);
  const Float64 k = (r * 0.5) * std::sin(std::numbers::pi * cutoff);
  const Float64 c1 = ((1.0 - k) * 0.5) / (1.0 + k);
  const Float64 c2 = (c1 + 0.5) * std::cos(std::numbers::pi * cutoff);
  const Float64 c3 = 0.25 * ((0.5 + c1) - c2);

  FilterCoefficients c;
  c.a0 = 2.0 * c3;
  c.a1 = 4.0 * c3;
  c.a2 = 2.0 * c3;
  c.b1 = -2.0 * c2;
  c.b2 = 2.0 * c1;
  return c;
}

Float64 FilterCoefficients::Response(Float64 frequency, Float64 sampleRate) const {
  const Float64 rate = static_cast<Float32>(sampleRate);
  const Float64 f = (frequency + frequency) / rate;
  const Float64 w = std::numbers::pi * f;
  const Float64 c = std::cos(w);
  const Float64 s = std::sin(w);
  // cos 2w and sin 2w formed as c² − s² and 2·c·s.
  const Float64 cos2w = c * c - s * s;

  const Float64 numReal = a2 + (a0 * cos2w + a1 * c);
  const Float64 numImag = a1 * s + (2.0 * a0 * c) * s;
  const Float64 numerator = std::sqrt(numReal * numReal + numImag * numImag);

  const Float64 denReal = b2 + (cos2w + b1 * c);
  const Float64 denImag = b1 * s + (2.0 * c) * s;
  const Float64 denominator = std::sqrt(denReal * denReal + denImag * denImag);

  return numerator / denominator;
}
