// One open instance of a deliverable, driven exactly as a host drives it:
// opened through the component loader, configured through properties,
// fed through a render callback on input 0 and rendered with AudioUnitRender.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "effect/UnitIdentity.h"
#include "platform/AudioTypes.h"
#include "platform/CFRef.h"
#include "platform/ComponentSeam.h"

struct PresetDescription {
  int number = 0;
  std::string name;
};

struct ParameterDescription {
  AudioUnitParameterID id = 0;
  std::string name;
  AudioUnitParameterInfo info{};
};

// The frequency-response property carries 512 points.
constexpr size_t kFrequencyResponsePoints = 512;

class PluginInstance {
 public:
  // Opens the named deliverable; an unknown name is a usage error that lists
  // the installed ones.
  explicit PluginInstance(const std::string& name);
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;
  ~PluginInstance();

  AudioUnit Unit() const { return unit_; }
  const std::string& Name() const { return name_; }
  // The component description the unit was opened under.
  const ComponentDescription& Description() const { return description_; }

  // Input and output bus 0: 32-bit float, one buffer per channel. A refusal
  // names the status.
  void SetFormat(double sampleRate, UInt32 channels);
  void SetMaximumFramesPerSlice(UInt32 frames);
  void Initialize();

  std::vector<PresetDescription> FactoryPresets() const;
  void SelectFactoryPreset(const PresetDescription& preset);
  // The current preset: a factory preset's number, or -1 with a name.
  PresetDescription CurrentPreset() const;

  std::vector<ParameterDescription> Parameters() const;
  void SetParameter(AudioUnitParameterID id, float value);
  float GetParameter(AudioUnitParameterID id) const;

  // Which deliverable the unit is, as it says itself (effect/UnitIdentity.h);
  // empty for a unit that does not answer the identity property.
  std::optional<UnitIdentity> Identity() const;
  // The variant index of the identity: which measures the presets follow.
  std::optional<int> VariantIndex() const;
  // The ID of the unit's frequency-response property, from its identity; 0
  // when it has none.
  UInt32 FrequencyResponsePropertyID() const;
  // Magnitudes at up to 512 frequencies (Hz), for the current parameters; the
  // unit must be initialised.
  std::vector<double> FrequencyResponse(const std::vector<double>& frequencies) const;

  // The saved state (class-info dictionary) and its restore.
  CFRef<CFPropertyListRef> SaveState() const;
  void RestoreState(CFPropertyListRef state);

  // Renders frames frames of the stream at sampleTime: input[c] is read
  // through the unit's render callback, output[c] receives the result.
  void Render(const float* const* input, float* const* output, UInt32 frames, double sampleTime);
  // Before Initialize: the unit reads the caller's input where it is and
  // writes straight into the caller's output (in-place processing off), so
  // a render moves no samples besides the unit's own work.
  void ReadInputWhereItIs();

 private:
  static OSStatus InputCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                                UInt32 bus, UInt32 frames, AudioBufferList* data);

  std::string name_;
  ComponentDescription description_{};
  AudioUnit unit_ = nullptr;
  double sampleRate_ = 0;
  UInt32 channels_ = 0;
  const float* const* input_ = nullptr;  // valid during Render only
  bool inputWhereItIs_ = false;
  std::vector<unsigned char> outputList_;
};

// A fixed-size property of a unit, read whole; empty when the unit refuses
// it or answers another size.
template <class T>
std::optional<T> ReadUnitProperty(AudioUnit unit, AudioUnitPropertyID id,
                                  AudioUnitScope scope = kAudioUnitScope_Global) {
  T value{};
  UInt32 size = sizeof value;
  if (AudioUnitGetProperty(unit, id, scope, 0, &value, &size) != noErr || size != sizeof value) return std::nullopt;
  return value;
}

// Text of a value reference that holds a string; empty otherwise.
std::string StringOf(CFStringRef s);
