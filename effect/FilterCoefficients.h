// Coefficients of the resonant two-pole low-pass and its magnitude response.
// A plain value, so the response curve for the editor can be computed on a
// private set without touching a kernel that is rendering.
#pragma once

#include "platform/AudioTypes.h"

struct FilterCoefficients {
  Float64 a0 = 0.0, a1 = 0.0, a2 = 0.0;  // feed-forward: now, one and two back
  Float64 b1 = 0.0, b2 = 0.0;            // feedback: one and two back

  // [any] From a normalised cutoff (1.0 is half the sample rate) and a
  // resonance in dB. Unit gain at 0 Hz; 10^(resonance/20) at the cutoff.
  static FilterCoefficients Lopass(Float64 cutoff, Float64 resonance);

  // [any] Linear magnitude at `frequency` Hz. The rate is narrowed to 32 bits first,
  // as the render path does when it normalises the cutoff.
  Float64 Response(Float64 frequency, Float64 sampleRate) const;
};
