// Port layout of the LV2 edition, shared by the wrapper and the description
// generator so the two can never disagree.
#pragma once

#include <cstdint>

// The stereo plug-in's URI is the base, the mono one adds this suffix.
inline constexpr const char* kLv2UriBase = "https://qelvo.org/plugins/";
inline constexpr const char* kLv2MonoSuffix = "-mono";

enum Lv2Port : uint32_t {
  kLv2PortCutoff = 0,     // control in, Hz
  kLv2PortResonance = 1,  // control in, dB
  kLv2PortGain = 2,       // control in, linear
  kLv2PortPreset = 3,     // control in, factory preset number
  kLv2PortEnabled = 4,    // control in, 0 bypasses the unit
  kLv2PortMode = 5,       // control out, 0 gain mode, 1 filter mode
  kLv2PortLevel = 6,      // control out, last level of the followed measure
  kLv2PortGainFactor = 7,    // control out
  kLv2PortCutoffFactor = 8,  // control out
  kLv2ControlPortCount = 9,
  // Audio inputs follow the controls, then the outputs: channel count each.
  kLv2FirstAudioPort = kLv2ControlPortCount,
};

constexpr uint32_t Lv2AudioIn(uint32_t channel) { return kLv2FirstAudioPort + channel; }
constexpr uint32_t Lv2AudioOut(uint32_t channels, uint32_t channel) {
  return kLv2FirstAudioPort + channels + channel;
}
constexpr uint32_t Lv2PortCount(uint32_t channels) { return kLv2FirstAudioPort + 2 * channels; }

// Ranges the host sees; the cutoff is also held below half the sample rate.
inline constexpr float kLv2MaxCutoffHz = 20000.0f;
// Frames per slice when the host does not say how long its blocks get.
inline constexpr uint32_t kLv2DefaultMaxFrames = 4096;
