// One channel of the filter effect: a resonant two-pole low-pass whose cutoff
// follows the cutoff modulation factor, or a gain stage scaled by the gain
// modulation factor, chosen per render call by the process-wide mode flag.
#pragma once

#include "effect/FilterCoefficients.h"
#include "framework/AUKernelBase.h"

class FilterKernel : public AUKernelBase {
 public:
  // Largest history magnitude the filter keeps across slices. Sound at full
  // scale stays far below it even at 20 dB resonance; above it, or when not
  // finite, the history is cleared at the end of the slice, so a NaN burst in
  // the input or a recursion run away under fast cutoff moves recovers.
  static constexpr double kMaxHistory = 1e6;

  // [control; uninitialized] Made by the unit's NewKernel.
  explicit FilterKernel(AUKernelOwner& owner);
  // [control]
  ~FilterKernel() override;

  // [control] or [render] (AUKernelBase::Reset). Clears the history and
  // forgets the cutoff and resonance the coefficients were made for; the
  // coefficients themselves stay.
  void Reset() override;

  // [render; initialized] Filter mode walks consecutive samples and ignores `channelStride`; gain
  // mode steps by it. `silence` is left as the effect set it. Filter mode
  // clears the history after a slice that left it beyond kMaxHistory or not
  // finite; the slice itself is rendered as it comes. Gain mode reads the
  // gain modulation factor afresh for every eight samples (every sample
  // when they are not consecutive), so a new level takes effect mid-slice.
  void Process(const float* source, float* destination, unsigned frames,
               unsigned channelStride, bool& silence) override;

  // [render] Replaces the coefficients; the history and the remembered cutoff and
  // resonance are not touched.
  void CalculateLopassParams(double cutoff, double resonance);

  // ---- the steps of Process, for an effect that runs several channels in
  // one pass (each channel keeps its own coefficients and history) -------------

  // The normalised cutoff and the limited resonance of one slice.
  struct Settings {
    double cutoff;
    double resonance;
  };
  // The previous two inputs and outputs of the recursion.
  struct History {
    double x1, x2, y1, y2;
  };

  // [render] Reads the gain parameter (below 0.01 it puts every instance into
  // filter mode) and then the mode: true for filter mode.
  bool FilterModeNow();
  // [render] The cutoff and resonance parameters and the cutoff factor,
  // limited and normalised at the owner's sample rate.
  Settings ReadSettings();
  // [render] New coefficients when the settings differ from those the
  // current ones were made for (a NaN always differs).
  void FollowSettings(const Settings& settings);
  // [render] The recursion over consecutive samples with the current
  // coefficients, then the history check.
  void RenderFilter(const float* source, float* destination, unsigned frames);
  // [render] Gain mode with the gain parameter already read.
  void RenderGain(const float* source, float* destination, unsigned frames, unsigned channelStride,
                  float gain);

  // [render]
  History GetHistory() const { return {x1, x2, y1, y2}; }
  // [render] Keeps the history for the next slice, or silence when any value is beyond
  // kMaxHistory or not finite.
  void KeepHistory(const History& history);

  // [render] Magnitude of the current coefficients at `frequency` Hz, at the
  // owner's sample rate. The unit's curve uses coefficients of its own.
  double GetFrequencyResponse(double frequency);

  // [render]
  const FilterCoefficients& Coefficients() const { return mCoefficients; }

 private:
  FilterCoefficients mCoefficients;
  double x1 = 0.0, x2 = 0.0;  // previous two inputs
  double y1 = 0.0, y2 = 0.0;  // previous two outputs
  double lastCutoff = -1.0;     // normalised cutoff of the coefficients; -1 none
  double lastResonance = -1.0;  // resonance of the coefficients; -1 none
};
