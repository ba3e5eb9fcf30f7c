// Scopes, elements and the parameter values they store.
//
// A unit addresses its parts by scope (global, input, output, group, part)
// and element number. Each scope owns its elements; each element keeps its
// parameters either in an ordered map (sparse IDs, the default) or in an
// indexed array (dense IDs 0..n-1). Lookup failures throw the bare OSStatus.
#pragma once

#include <memory>
#include <vector>

#include "framework/TGrowOnlyMap.h"
#include "framework/TRelaxedAtomic.h"
#include "platform/AudioTypes.h"
#include "platform/CFRef.h"

class AUBase;
class AUElement;
class AUIOElement;
class AUInputElement;
class AUOutputElement;

// The stored state of one parameter: a constant value, or a ramp positioned
// relative to the render slice it was stored for. Control threads set values
// while the render thread reads them and applies scheduled events, so the
// fields both sides write are taken whole.
class ParameterMapEvent {
 public:
  // [any] Values are set on control threads and by scheduled events on the
  // render thread, and read by both.
  ParameterMapEvent() = default;
  explicit ParameterMapEvent(AudioUnitParameterValue value) : mValue1(value), mValue2(value) {}
  ParameterMapEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffsetInBuffer,
                    UInt32 sliceDurationFrames) {
    SetScheduledEvent(event, sliceOffsetInBuffer, sliceDurationFrames);
  }

  // [render] A scheduled event, for the slice it is applied to.
  void SetScheduledEvent(const AudioUnitParameterEvent& event, UInt32 sliceOffsetInBuffer,
                         UInt32 sliceDurationFrames);

  // [render] Start and end of the ramp's straight line over the stored slice, and the
  // change per frame; a constant value gives start == end and delta 0.
  void GetRampSliceStartEnd(AudioUnitParameterValue& outStart, AudioUnitParameterValue& outEnd,
                            AudioUnitParameterValue& outDeltaPerFrame) const;

  // [any] The constant value, or a ramp's start value.
  AudioUnitParameterValue GetValue() const { return mValue1; }
  void SetValue(AudioUnitParameterValue value) {
    mEventType = kParameterEvent_Immediate;
    mValue1 = mValue2 = value;
  }

  // [render] What the render stored for its slice.
  UInt32 GetEventType() const { return mEventType; }
  SInt32 GetStartOffset() const { return mBufferOffset; }
  UInt32 GetDuration() const { return mDurationInFrames; }
  AudioUnitParameterValue GetEndValue() const { return mValue2; }
  UInt32 GetSliceDuration() const { return mSliceDurationFrames; }

 private:
  TRelaxedAtomic<UInt32> mEventType = kParameterEvent_Immediate;
  SInt32 mBufferOffset = 0;  // this and the durations: render thread only
  UInt32 mDurationInFrames = 0;
  TRelaxedAtomic<AudioUnitParameterValue> mValue1 = 0.0f;
  TRelaxedAtomic<AudioUnitParameterValue> mValue2 = 0.0f;
  UInt32 mSliceDurationFrames = 0;
};

// How a scope asks its unit for new elements.
class AUElementCreator {
 public:
  // [control] A new element for that scope and number; the caller owns it.
  virtual AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) = 0;
  virtual ~AUElementCreator() = default;
};

// One element (bus) of a scope: its parameters and an optional name.
//
// Threads: parameter values are read and written on any thread. An element
// that keeps its parameters by ID (not indexed) also takes a new ID while the
// render thread reads: the map only grows and never moves an entry, so
// readers need no lock. One thread adds IDs at a time (the unit sees to that,
// see AUBase); everything else here belongs to the unit's control thread.
class AUElement {
 public:
  // [control]
  explicit AUElement(AUBase* audioUnit);
  virtual ~AUElement();
  AUElement(const AUElement&) = delete;
  AUElement& operator=(const AUElement&) = delete;

  // [control; constructing] Switches to array storage of numberOfParameters
  // entries with IDs 0..n-1.
  virtual void UseIndexedParameters(int numberOfParameters);

  // [any]
  AUBase* GetAudioUnit() const { return mAudioUnit; }
  // The element as an input or output bus, or null: the render path asks
  // every call, and a virtual call costs a fraction of a dynamic_cast.
  virtual AUInputElement* AsInputElement() { return nullptr; }
  virtual AUOutputElement* AsOutputElement() { return nullptr; }
  bool UsesIndexedParameters() const { return mUseIndexedParameters; }

  // [control] The parameter list.
  UInt32 GetNumberOfParameters() const;
  // Writes GetNumberOfParameters() IDs, ascending.
  void GetParameterList(AudioUnitParameterID* outList) const;
  // [any] Whether the ID has a stored value (setting it then adds nothing).
  bool HasParameter(AudioUnitParameterID paramID) const;

  // [any] Setting an ID the element lacks adds it: one thread at a time (the
  // unit's control side) may add.
  AudioUnitParameterValue GetParameter(AudioUnitParameterID paramID) const;
  void SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value);
  // [control] Adds the ID when missing (ScheduleParameter's ramps).
  void SetScheduledEvent(AudioUnitParameterID paramID, const AudioUnitParameterEvent& event,
                         UInt32 sliceOffsetInBuffer, UInt32 sliceDurationFrames);
  // [render] SetScheduledEvent for the render thread: never adds an ID (that
  // would allocate), answers false for a missing one instead.
  bool ApplyScheduledEvent(AudioUnitParameterID paramID, const AudioUnitParameterEvent& event,
                           UInt32 sliceOffsetInBuffer, UInt32 sliceDurationFrames);
  // [render]
  void GetRampSliceStartEnd(AudioUnitParameterID paramID, AudioUnitParameterValue& outStart,
                            AudioUnitParameterValue& outEnd,
                            AudioUnitParameterValue& outDeltaPerFrame) const;

  // [any] The stored event; throws kAudioUnitErr_InvalidParameter, never creates one.
  ParameterMapEvent& GetParamEvent(AudioUnitParameterID paramID);
  const ParameterMapEvent& GetParamEvent(AudioUnitParameterID paramID) const;

  // [control] The element keeps its own reference to the name; null clears it.
  void SetName(CFStringRef name);
  // Not retained for the caller.
  CFStringRef GetName() const { return mElementName.get(); }
  bool HasName() const { return static_cast<bool>(mElementName); }

  // [control] Saved state: appends the parameter count, then per parameter its ID (its
  // index when indexed) and its value bits, all big-endian 32-bit words.
  void SaveState(CFMutableDataRef data) const;
  // Reads a count and that many entries at state and sets each parameter;
  // returns the position after the last entry. When they would run past end
  // nothing is set and the result is null.
  const UInt8* RestoreState(const UInt8* state, const UInt8* end);
  // Where the count and entries at state end; null when past end.
  static const UInt8* StateEnd(const UInt8* state, const UInt8* end);
  // Whether every value of the count and entries at state, which end at
  // chunkEnd (from StateEnd), is a finite number.
  static bool StateValuesAreFinite(const UInt8* state, const UInt8* chunkEnd);

 private:
  AUBase* mAudioUnit;
  TGrowOnlyMap<AudioUnitParameterID, ParameterMapEvent> mParameters;
  bool mUseIndexedParameters = false;
  std::vector<ParameterMapEvent> mIndexedParameters;
  CFRef<CFStringRef> mElementName;
};

// One scope of a unit; owns its elements, element number = index.
class AUScope {
 public:
  // [control]
  AUScope() = default;
  ~AUScope();
  AUScope(const AUScope&) = delete;
  AUScope& operator=(const AUScope&) = delete;

  // [control; constructing]
  void Initialize(AUElementCreator* creator, AudioUnitScope scope, UInt32 numElements);
  // [control; uninitialized] Grows through the creator in ascending number,
  // shrinks from the top down.
  void SetNumberOfElements(UInt32 numElements);
  // [any]
  UInt32 GetNumberOfElements() const { return static_cast<UInt32>(mElements.size()); }

  // [any] Null for a missing element; never throws.
  AUElement* GetElement(UInt32 elementIndex) const {
    return elementIndex < mElements.size() ? mElements[elementIndex].get() : nullptr;
  }
  // Throws kAudioUnitErr_InvalidElement for a missing element.
  AUElement* SafeGetElement(UInt32 elementIndex) const;
  // Also throws kAudioUnitErr_InvalidElement for an element that carries no audio.
  AUIOElement* GetIOElement(UInt32 elementIndex) const;

  // [any]
  AUElementCreator* GetCreator() const { return mCreator; }

  // [control] Element names of a saved state. A scope's entry maps element
  // numbers (decimal text) to names.
  bool HasElementWithName() const;
  // Stores this scope's entry under its number when it has named elements.
  void AddElementNamesToDict(CFMutableDictionaryRef names) const;
  // Whether an entry can be applied: a dictionary of decimal keys to
  // strings, naming existing elements or ones below kMaxRestoredElements.
  bool CanRestoreElementNames(CFTypeRef scopeNames) const;
  // Applies an entry, growing the scope to reach the highest number named;
  // true when it grew. Throws kAudioUnitErr_InvalidPropertyValue (changing
  // nothing) for an entry CanRestoreElementNames refuses.
  bool RestoreElementNames(CFDictionaryRef scopeNames);

  // A saved state may grow a scope up to this many elements, so a stray
  // number cannot make the unit build millions of them.
  static constexpr UInt32 kMaxRestoredElements = 1024;
  // [any]
  AudioUnitScope GetScope() const { return mScope; }

 private:
  AUElementCreator* mCreator = nullptr;
  AudioUnitScope mScope = 0;
  std::vector<std::unique_ptr<AUElement>> mElements;
};
