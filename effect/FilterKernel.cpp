#include "effect/FilterKernel.h"

#include <emmintrin.h>

#include <cmath>
#include <cstddef>

#include "effect/FilterConstants.h"
#include "effect/ModulationState.h"
#include "effect/SampleRanges.h"

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
  if (FilterModeNow()) {
    FollowSettings(ReadSettings());
    RenderFilter(source, destination, frames);
  } else {
    RenderGain(source, destination, frames, channelStride, GetParameter(kParam_Gain));
  }
}

bool FilterKernel::FilterModeNow() {
  // A gain this low means the level should drive the cutoff instead; the flag
  // is process-wide, so every instance follows until the next preset or level.
  if (0.01 > static_cast<double>(GetParameter(kParam_Gain))) {
    ForceFilterMode();
  }
  return testX.load(std::memory_order_relaxed) != 0;
}

FilterKernel::Settings FilterKernel::ReadSettings() {
  double cutoff = GetParameter(kParam_CutoffFrequency);
  double resonance = GetParameter(kParam_Resonance);

  cutoff = cutoff * (cutoffX.load(std::memory_order_relaxed) + 0.1);
  if (kMinCutoffHz > cutoff) cutoff = kMinCutoffHz;
  if (kMinResonance > resonance) resonance = kMinResonance;
  if (resonance > kMaxResonance) resonance = kMaxResonance;

  const double sampleRate = static_cast<float>(GetSampleRate());
  cutoff = (cutoff + cutoff) / sampleRate;
  if (cutoff > 0.99) cutoff = 0.99;
  return {cutoff, resonance};
}

void FilterKernel::FollowSettings(const Settings& settings) {
  // pow, sin and cos only when something changed; a NaN never compares equal,
  // so it always counts as a change.
  if (settings.cutoff != lastCutoff || settings.resonance != lastResonance) {
    CalculateLopassParams(settings.cutoff, settings.resonance);
    lastCutoff = settings.cutoff;
    lastResonance = settings.resonance;
  }
}

void FilterKernel::RenderFilter(const float* source, float* destination, unsigned frames) {
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
  KeepHistory({px1, px2, py1, py2});
}

void FilterKernel::KeepHistory(const History& history) {
  // A history beyond anything a stable filter reaches from sound (NaN or an
  // infinity from the input, or a recursion run away while the coefficients
  // jump every few samples) would spoil every later sample; start the next
  // slice from silence instead. Once per slice, so it costs nothing per sample.
  if (!HistoryIsSound(history.x1, history.x2, history.y1, history.y2)) {
    x1 = x2 = y1 = y2 = 0.0;
    return;
  }
  x1 = history.x1;
  x2 = history.x2;
  y1 = history.y1;
  y2 = history.y2;
}

void FilterKernel::RenderGain(const float* source, float* destination, unsigned frames,
                              unsigned channelStride, float gain) {
  unsigned i = 0;
  // Four samples per instruction where they are consecutive and the output
  // is the input or lies apart from it: the same products, in the same
  // precision, as one at a time. The factor is read afresh for every eight
  // samples, so a new level still takes effect mid-slice; no other thread can
  // tell this from a read per sample, as the reads it saves could all have
  // fallen between two of its writes.
  if (channelStride == 1 && ApartOrSame(source, destination, frames)) {
    const __m128 g = _mm_set1_ps(gain);
    for (; i + 8 <= frames; i += 8) {
      const __m128 factor = _mm_set1_ps(gainX.load(std::memory_order_relaxed));
      const __m128 low = _mm_loadu_ps(source + i);
      const __m128 high = _mm_loadu_ps(source + i + 4);
      _mm_storeu_ps(destination + i, _mm_mul_ps(_mm_mul_ps(low, g), factor));
      _mm_storeu_ps(destination + i + 4, _mm_mul_ps(_mm_mul_ps(high, g), factor));
    }
  }
  // Indexed rather than advancing the pointers, so nothing points past the
  // buffer after the last sample.
  const size_t stride = channelStride;
  for (size_t at = size_t{i} * stride; i < frames; ++i, at += stride) {
    // gainX is read per sample so a new level takes effect mid-slice.
    destination[at] = (source[at] * gain) * gainX.load(std::memory_order_relaxed);
  }
}
