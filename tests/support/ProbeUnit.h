// The loader tests' probe unit as a stand-in for any unit: it answers each
// property with the bytes last set for it and keeps parameter values, so a
// test describes a parameter exactly as a unit would report it.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"

class ProbeUnit {
 public:
  ProbeUnit() {
    setenv(kQelvoPluginPathVariable, QELVO_TEST_BUNDLE_DIR, 1);
    QelvoRescanComponents();
    status_ = QelvoOpenComponent("QelvoProbe", &instance_);
  }
  ~ProbeUnit() {
    if (instance_ != nullptr) CloseComponent(instance_);
  }
  ProbeUnit(const ProbeUnit&) = delete;
  ProbeUnit& operator=(const ProbeUnit&) = delete;

  AudioUnit get() const { return instance_; }
  OSStatus status() const { return status_; }

  // What the unit reports for a property; the bytes are kept as they are, so
  // a reference in them is handed out unretained on every read.
  template <class T>
  OSStatus Answer(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, const T& value) {
    return AudioUnitSetProperty(instance_, id, scope, element, &value, sizeof value);
  }
  OSStatus Describe(AudioUnitParameterID param, const AudioUnitParameterInfo& info,
                    AudioUnitScope scope = kAudioUnitScope_Global) {
    return Answer(kAudioUnitProperty_ParameterInfo, scope, param, info);
  }
  OSStatus SetParameter(AudioUnitParameterID param, Float32 value, AudioUnitScope scope = kAudioUnitScope_Global,
                        AudioUnitElement element = 0) {
    return AudioUnitSetParameter(instance_, param, scope, element, value, 0);
  }
  // NaN when the unit has no value for the parameter.
  Float32 Parameter(AudioUnitParameterID param, AudioUnitScope scope = kAudioUnitScope_Global,
                    AudioUnitElement element = 0) const {
    Float32 value = 0.0f;
    if (AudioUnitGetParameter(instance_, param, scope, element, &value) != noErr) return __builtin_nanf("");
    return value;
  }

 private:
  AudioUnit instance_ = nullptr;
  OSStatus status_ = noErr;
};
