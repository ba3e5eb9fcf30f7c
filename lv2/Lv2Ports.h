// Port layout of the LV2 edition, shared by the wrapper and the description
// generator so the two can never disagree. One control input per row of the
// parameter table (effect/FilterParameters.h), in table order, then the
// preset and enabled inputs, the four modulation outputs and the audio ports.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "effect/FilterParameters.h"

// The stereo plug-in's URI is the base, the mono one adds this suffix.
inline constexpr const char* kLv2UriBase = "https://qelvo.org/plugins/";
inline constexpr const char* kLv2MonoSuffix = "-mono";

// [any] Where the ports of a plug-in with `parameters` parameter ports sit.
struct Lv2PortLayout {
  uint32_t parameters;

  constexpr uint32_t Preset() const { return parameters; }       // control in, factory preset number
  constexpr uint32_t Enabled() const { return parameters + 1; }  // control in, 0 bypasses the unit
  constexpr uint32_t Mode() const { return parameters + 2; }     // control out, 0 gain mode, 1 filter mode
  constexpr uint32_t Level() const { return parameters + 3; }    // control out, last level of the followed measure
  constexpr uint32_t GainFactor() const { return parameters + 4; }    // control out
  constexpr uint32_t CutoffFactor() const { return parameters + 5; }  // control out
  constexpr uint32_t ControlCount() const { return parameters + 6; }
  // Audio inputs follow the controls, then the outputs: channel count each.
  constexpr uint32_t AudioIn(uint32_t channel) const { return ControlCount() + channel; }
  constexpr uint32_t AudioOut(uint32_t channels, uint32_t channel) const {
    return ControlCount() + channels + channel;
  }
  constexpr uint32_t Count(uint32_t channels) const { return ControlCount() + 2 * channels; }
};

inline constexpr Lv2PortLayout kLv2Ports{static_cast<uint32_t>(kFilterParameterCount)};

// [any]
constexpr uint32_t Lv2ParameterPort(AudioUnitParameterID id) {
  return static_cast<uint32_t>(FilterParameterIndex(id));
}

inline constexpr uint32_t kLv2PortCutoff = Lv2ParameterPort(kParam_CutoffFrequency);  // Hz
inline constexpr uint32_t kLv2PortResonance = Lv2ParameterPort(kParam_Resonance);     // dB
inline constexpr uint32_t kLv2PortGain = Lv2ParameterPort(kParam_Gain);               // linear
inline constexpr uint32_t kLv2PortPreset = kLv2Ports.Preset();
inline constexpr uint32_t kLv2PortEnabled = kLv2Ports.Enabled();
inline constexpr uint32_t kLv2PortMode = kLv2Ports.Mode();
inline constexpr uint32_t kLv2PortLevel = kLv2Ports.Level();
inline constexpr uint32_t kLv2PortGainFactor = kLv2Ports.GainFactor();
inline constexpr uint32_t kLv2PortCutoffFactor = kLv2Ports.CutoffFactor();
inline constexpr uint32_t kLv2ControlPortCount = kLv2Ports.ControlCount();
inline constexpr uint32_t kLv2FirstAudioPort = kLv2ControlPortCount;

// [any]
constexpr uint32_t Lv2AudioIn(uint32_t channel) { return kLv2Ports.AudioIn(channel); }
constexpr uint32_t Lv2AudioOut(uint32_t channels, uint32_t channel) { return kLv2Ports.AudioOut(channels, channel); }
constexpr uint32_t Lv2PortCount(uint32_t channels) { return kLv2Ports.Count(channels); }

// [any] What a parameter port's value gives the unit: the default when the
// port is not connected or not finite, else the value held within the row's
// range, and below half the sample rate for a row whose maximum follows it.
inline float Lv2ParameterValue(const FilterParameter& parameter, const float* port, double sampleRate) {
  const float value = port != nullptr && std::isfinite(*port) ? *port : parameter.defaultValue;
  float high = parameter.maxValue;
  if (parameter.maxIsHalfRate) high = std::min(high, static_cast<float>(sampleRate / 2));
  return std::clamp(value, std::min(parameter.minValue, high), high);
}

// Frames per slice when the host does not say how long its blocks get.
inline constexpr uint32_t kLv2DefaultMaxFrames = 4096;
