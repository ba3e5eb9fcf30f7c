// One parameter of any unit, as a client of that unit (an editor view, a
// host-side tool) sees it: its information, display name, unit label and
// value names read through the host's calls, and conversion between values
// and display text in the current locale. Keeps no reference into the unit
// object itself, only the component instance.
#pragma once

#include "platform/AudioTypes.h"
#include "platform/CFRef.h"
#include "platform/ParameterListeners.h"

class CAAUParameter : public AudioUnitParameter {
 public:
  // All zero: no unit, no information, no names.
  CAAUParameter();
  CAAUParameter(AudioUnit inUnit, AudioUnitParameterID inParameterID, AudioUnitScope inScope,
                AudioUnitElement inElement);
  explicit CAAUParameter(const AudioUnitParameter& inParameter);
  // Copies share the owned names, each copy holding its own reference.
  CAAUParameter(const CAAUParameter&) = default;
  CAAUParameter& operator=(const CAAUParameter&) = default;
  ~CAAUParameter() = default;

  // Reads the parameter's description from the unit. A unit that does not
  // answer leaves an all-zero record: empty name, no label.
  void Init(AudioUnit inUnit, AudioUnitParameterID inParameterID, AudioUnitScope inScope,
            AudioUnitElement inElement);

  // The unit's current value; 0.0 when it cannot be read.
  Float32 GetValue() const;
  // Clamps to the parameter's range and sets it through AUParameterSet, so
  // listeners other than (inListener, inObject) hear of it. NaN sets nothing.
  void SetValue(AUParameterListenerRef inListener, void* inObject, Float32 inValue) const;

  // The display text of *inValue, or of the current value when inValue is
  // null; the caller owns the string.
  CFStringRef GetStringFromValueCopy(const Float32* inValue = nullptr) const;
  // The value a display text stands for; the default value when it is no number.
  Float32 GetValueFromString(CFStringRef inString) const;

  CFStringRef GetName() const { return displayName.get(); }
  // Short label of the unit of measure ("Hz", "dB"), or null.
  CFStringRef GetUnitLabel() const { return unitLabel.get(); }
  SInt16 GetNumIndexedValues() const { return indexedValueCount; }

  bool ValuesHaveStrings() const { return (info.flags & kAudioUnitParameterFlag_ValuesHaveStrings) != 0; }
  bool IsIndexedParam() const { return indexedValueCount != 0; }
  bool HasNamedParams() const { return IsIndexedParam() && valueNames; }
  // The name of value index inIndex, or null; no reference for the caller.
  CFStringRef GetParamName(int inIndex) const;
  const AudioUnitParameterInfo& ParamInfo() const { return info; }

 private:
  AudioUnitParameterInfo info{};
  CFRef<CFStringRef> displayName;
  CFRef<CFStringRef> unitLabel;
  SInt16 indexedValueCount = 0;
  CFRef<CFArrayRef> valueNames;
};

// Display text of inValue for inParameter with inDigits significant digits
// before the fraction is cut; null without a parameter. The caller owns it.
CFStringRef CreateLocalizedStringForParameterValue(double inValue, const CAAUParameter* inParameter, int inDigits,
                                                   int inMinFractionDigits);
CFStringRef CreateLocalizedStringForParameterValue(double inValue, const CAAUParameter* inParameter, int inDigits);
// The number a text written in the current locale stands for; the parameter's
// default value when it is none (0.0 without a parameter).
double ValueForLocalizedParameterString(CFStringRef inString, const CAAUParameter* inParameter);
