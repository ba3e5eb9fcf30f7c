// The effect unit of every deliverable: a resonant low-pass or a gain stage
// per channel, driven by the listener's brain-wave levels. It adds to the
// effect base its parameters and factory presets, the level listener, its
// kernels, two properties for the editor view (where the view lives and the
// frequency-response curve it draws), a read-only report of the modulation
// and a read-only identity (effect/UnitIdentity.h).
#pragma once

#include "framework/AUEffectBase.h"
#include "platform/AudioTypes.h"

// Points in one frequency-response request; the caller fills in the
// frequencies, the unit the magnitudes.
constexpr UInt32 kFrequencyResponsePointCount = 512;
constexpr UInt32 kFrequencyResponseByteSize = kFrequencyResponsePointCount * sizeof(FrequencyResponsePoint);

class Filter : public AUEffectBase {
 public:
  // [control; constructing] Sets the parameter defaults, resets both
  // modulation factors (the mode and the preset index stay as earlier
  // instances left them) and registers the level listener once more.
  explicit Filter(ComponentInstance inComponentInstance);
  // [control; closing] Leaves the registration and the modulation state.
  ~Filter() override;

  // [control]
  OSStatus Version() override;
  // [control; uninitialized] Announces a new frequency-response curve after
  // a successful start.
  OSStatus Initialize() override;

  // [control] The editor view, the curve (initialized only), the modulation
  // report and the identity, then the effect base's. Reading the report or
  // the identity only loads values, so a host may ask from any thread.
  OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                           UInt32& outDataSize, Boolean& outWritable) override;
  OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                       void* outData) override;

  // [control] From the parameter table (effect/FilterParameters.h).
  OSStatus GetParameterInfo(AudioUnitScope inScope, AudioUnitParameterID inParameterID,
                            AudioUnitParameterInfo& outParameterInfo) override;
  // [control] A new array without callbacks holding pointers to the constant preset
  // records; the caller owns the array, not the records.
  OSStatus GetPresets(CFArrayRef* outData) const override;
  // [control] Selects the measure and the mode; parameter values stay as they are.
  OSStatus NewFactoryPresetSet(const AUPreset& inNewFactoryPreset) override;

  // [any] Constants; the effect base asks the first two on the render thread.
  Float64 GetLatency() override;
  Float64 GetTailTime() override;
  bool SupportsTail() override;

  // [control; uninitialized] One per channel, at initialization.
  AUKernelBase* NewKernel() override;
  // [render] Two channels or more, one buffer each: all channels in one pass.
  OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                              AudioBufferList& outBuffer, UInt32 inFramesToProcess) override;

 private:
  OSStatus GetEditorView(void* outData);
  OSStatus GetFrequencyResponse(void* outData);
};

// [any] The one symbol each deliverable exports: every host call enters
// here, on the thread its selector belongs to (AUBase.h).
extern "C" __attribute__((visibility("default"))) ComponentResult FilterEntry(ComponentParameters* params,
                                                                               Filter* obj);
