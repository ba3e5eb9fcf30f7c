// A concrete unit for framework tests. Formats are writable while the unit is
// uninitialized (like the effect base); Initialize and Cleanup are counted and
// Initialize answers a chosen status.
#pragma once

#include <memory>

#include "framework/AUBase.h"

class TestUnit : public AUBase {
 public:
  explicit TestUnit(UInt32 inputs = 1, UInt32 outputs = 1, UInt32 groups = 0, UInt32 parts = 0,
                    ComponentInstance instance = DefaultInstance())
      : AUBase(instance, inputs, outputs, groups, parts) {}

  // A stand-in handle; listeners receive it as the changed unit.
  static ComponentInstance DefaultInstance() {
    static int token;
    return reinterpret_cast<ComponentInstance>(&token);
  }

  bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override { return !IsInitialized(); }

  OSStatus Initialize() override {
    ++initializeCalls;
    return initializeResult;
  }
  void Cleanup() override { ++cleanupCalls; }

  using AUBase::CreateElements;
  using AUBase::RenderNotifications;

  OSStatus initializeResult = noErr;
  int initializeCalls = 0;
  int cleanupCalls = 0;
};

// Closes a unit the way the component entry does: PreDestructor, then delete.
struct TestUnitCloser {
  void operator()(AUBase* unit) const {
    unit->PreDestructor();
    delete unit;
  }
};
using TestUnitPtr = std::unique_ptr<TestUnit, TestUnitCloser>;

// Opens a unit the way the component entry does: construct, then PostConstructor.
inline TestUnitPtr OpenTestUnit(UInt32 inputs = 1, UInt32 outputs = 1, UInt32 groups = 0,
                                UInt32 parts = 0) {
  TestUnitPtr unit(new TestUnit(inputs, outputs, groups, parts));
  unit->PostConstructor();
  return unit;
}

// The canonical 32-bit float, one-buffer-per-channel format.
inline CAStreamBasicDescription CanonicalTestFormat(UInt32 channels, Float64 sampleRate = 44100.0) {
  CAStreamBasicDescription format;
  format.SetCanonical(channels, false);
  format.mSampleRate = sampleRate;
  return format;
}
