#include "effect/FilterKernel.h"

#include <cmath>
#include <cstddef>

#include "effect/FilterConstants.h"
#include "effect/ModulationState.h"

namespace {
// NaN fails every comparison, so it counts as unsound too.
bool HistoryIsSound(double x1, double x2, double y1, double y2) {
  return std::fabs(x1) <= FilterKernel::kMaxHistory && std::fabs(x2) <= FilterKernel::kMaxHistory &&
         std::fabs(y1) <= FilterKernel::kMaxHistory && std::fabs(y2) <= FilterKernel::kMaxHistory;
}
}  // namespace

FilterKernel::FilterKernel(AUKernelOwner& owner) : AUKernelBase(owner) { Reset(); }

FilterKernel::~FilterKernel() = default;

void FilterKernel::Reset() {
  x1 = 0.0;
  x2 = 0.0;
  y1 = 0.0;
  y2 = 0.0;
  // -1 never equals a normalised cutoff (always positive), so the next render
  // in filter mode recomputes the coefficients.
  lastCutoff = -1.0;
  lastResonance = -1.0;
}

void FilterKernel::CalculateLopassParams(double cutoff, double resonance) {
  mCoefficients = FilterCoefficients::Lopass(cutoff, resonance);
}

double FilterKernel::GetFrequencyResponse(double frequency) {
  return mCoefficients.Response(frequency, GetSampleRate());
}

void FilterKernel::Process(const float* source, float* destination, unsigned frames,
                           unsigned channelStride, bool& /*silence*/) {
  // A gain this low means the level should drive the cutoff instead; the flag
  // is process-wide, so every instance follows until the next preset or level.
  if (0.01 > static_cast<double>(GetParameter(kParam_Gain))) {
    ForceFilterMode();
  }
  if (testX.load(std::memory_order_relaxed) != 0) {
    ProcessFilter(source, destination, frames);
  } else {
    ProcessGain(source, destination, frames, channelStride);
  }
}

void FilterKernel::ProcessFilter(const float* source, float* destination, unsigned frames) {
  double cutoff = GetParameter(kParam_CutoffFrequency);
  double resonance = GetParameter(kParam_Resonance);

  cutoff = cutoff * (cutoffX.load(std::memory_order_relaxed) + 0.1);
  if (kMinCutoffHz > cutoff) cutoff = kMinCutoffHz;
  if (kMinResonance > resonance) resonance = kMinResonance;
  if (resonance > kMaxResonance) resonance = kMaxResonance;

  const double sampleRate = static_cast<float>(GetSampleRate());
  cutoff = (cutoff + cutoff) / sampleRate;
  if (cutoff > 0.99) cutoff = 0.99;

  // pow, sin and cos only when something changed; a NaN never compares equal,
  // so it always counts as a change.
  if (cutoff != lastCutoff || resonance != lastResonance) {
    CalculateLopassParams(cutoff, resonance);
    lastCutoff = cutoff;
    lastResonance = resonance;
  }

  // Locals keep the recursion in registers; written back once per call.
  const double a0 = mCoefficients.a0, a1 = mCoefficients.a1, a2 = mCoefficients.a2;
  const double b1 = mCoefficients.b1, b2 = mCoefficients.b2;
  double px1 = x1, px2 = x2, py1 = y1, py2 = y2;
  for (unsigned i = 0; i < frames; ++i) {
    const double x = source[i];
    // Left to right in 64 bits; the output is narrowed before it feeds back.
    const float y = static_cast<float>(a0 * x + a1 * px1 + a2 * px2 - b1 * py1 - b2 * py2);
    px2 = px1;
    px1 = x;
    py2 = py1;
    py1 = y;
    destination[i] = y;
  }
  // A history beyond anything a stable filter reaches from sound (NaN or an
  // infinity from the input, or a recursion run away while the coefficients
  // jump every few samples) would spoil every later sample; start the next
  // slice from silence instead. Once per slice, so it costs nothing per sample.
  if (!HistoryIsSound(px1, px2, py1, py2)) px1 = px2 = py1 = py2 = 0.0;
  x1 = px1;
  x2 = px2;
  y1 = py1;
  y2 = py2;
}

void FilterKernel::ProcessGain(const float* source, float* destination, unsigned frames,
                               unsigned channelStride) {
  const float gain = GetParameter(kParam_Gain);
  // Indexed rather than advancing the pointers, so nothing points past the
  // buffer after the last sample.
  const size_t stride = channelStride;
  for (size_t i = 0, at = 0; i < frames; ++i, at += stride) {
    // gainX is read per sample so a new level takes effect mid-slice.
    destination[at] = (source[at] * gain) * gainX.load(std::memory_order_relaxed);
  }
}
