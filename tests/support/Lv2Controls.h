// The control ports of an LV2 instance under test, laid out as lv2/Lv2Ports.h
// says: every parameter port at its default (the parameter table), then the
// preset and enabled inputs, then the outputs.
#pragma once

#include <array>

#include "lv2/Lv2Ports.h"

using Lv2Controls = std::array<float, kLv2ControlPortCount>;

// The outputs start at `outputs` until the plug-in writes them.
inline Lv2Controls Lv2ControlValues(float preset, float enabled, float outputs = -1) {
  Lv2Controls controls{};
  for (size_t i = 0; i < kFilterParameterCount; ++i) controls[i] = kFilterParameters[i].defaultValue;
  controls[kLv2PortPreset] = preset;
  controls[kLv2PortEnabled] = enabled;
  for (uint32_t p = kLv2PortMode; p < kLv2ControlPortCount; ++p) controls[p] = outputs;
  return controls;
}
