// Reading a parameter's description from a unit and turning its values into
// display text and back.
#include "utility/CAAUParameter.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/AudioUnitHost.h"

namespace {

// Short labels by unit code; null where the unit has none. Custom units
// name their own label.
const char* UnitLabel(UInt32 unit) {
  switch (unit) {
    case kAudioUnitParameterUnit_Boolean:
      return "T/F";
    case kAudioUnitParameterUnit_Percent:
    case kAudioUnitParameterUnit_EqualPowerCrossfade:
      return "%";
    case kAudioUnitParameterUnit_Seconds:
      return "Secs";
    case kAudioUnitParameterUnit_SampleFrames:
      return "Samps";
    case kAudioUnitParameterUnit_Phase:
    case kAudioUnitParameterUnit_Degrees:
      return "Degr.";
    case kAudioUnitParameterUnit_Hertz:
      return "Hz";
    case kAudioUnitParameterUnit_Cents:
    case kAudioUnitParameterUnit_AbsoluteCents:
      return "Cents";
    case kAudioUnitParameterUnit_RelativeSemiTones:
      return "S-T";
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_MIDIController:
      return "MIDI";
    case kAudioUnitParameterUnit_Decibels:
      return "dB";
    case kAudioUnitParameterUnit_LinearGain:
    case kAudioUnitParameterUnit_MixerFaderCurve1:
      return "Gain";
    case kAudioUnitParameterUnit_Pan:
      return "L/R";
    case kAudioUnitParameterUnit_Meters:
      return "Mtrs";
    case kAudioUnitParameterUnit_Octaves:
      return "8ve";
    case kAudioUnitParameterUnit_BPM:
      return "BPM";
    case kAudioUnitParameterUnit_Beats:
      return "Beats";
    case kAudioUnitParameterUnit_Milliseconds:
      return "msecs";
    case kAudioUnitParameterUnit_Ratio:
      return "Ratio";
    default:  // Generic, Indexed, Rate, Custom and unknown codes
      return nullptr;
  }
}

// Truncation toward zero that saturates instead of being undefined for
// values out of range; NaN gives 0.
template <class Int>
Int TruncSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}

// Doubles beyond the float range become infinities rather than undefined.
Float32 NarrowToFloat(double value) {
  constexpr double kLimit = std::numeric_limits<Float32>::max();
  if (value > kLimit) return std::numeric_limits<Float32>::infinity();
  if (value < -kLimit) return -std::numeric_limits<Float32>::infinity();
  return static_cast<Float32>(value);
}

// Values from minimum to maximum, one step apart.
SInt16 RangeCount(const AudioUnitParameterInfo& info) {
  return TruncSaturated<SInt16>(info.maxValue + 1.0 - info.minValue);
}

CFRef<CFStringRef> MakeString(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

CFRef<CFNumberFormatterRef> CurrentDecimalFormatter() {
  const auto locale = CFRef<CFLocaleRef>::Adopt(CFLocaleCopyCurrent());
  return CFRef<CFNumberFormatterRef>::Adopt(
      CFNumberFormatterCreate(nullptr, locale.get(), kCFNumberFormatterDecimalStyle));
}

void SetFractionDigits(CFNumberFormatterRef formatter, CFNumberFormatterKey key, SInt32 count) {
  const auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &count));
  CFNumberFormatterSetProperty(formatter, key, number.get());
}

}  // namespace

// Padding included: the record is compared and handed on as bytes.
CAAUParameter::CAAUParameter() : AudioUnitParameter{} { std::memset(&info, 0, sizeof info); }

CAAUParameter::CAAUParameter(AudioUnit inUnit, AudioUnitParameterID inParameterID, AudioUnitScope inScope,
                             AudioUnitElement inElement)
    : CAAUParameter() {
  Init(inUnit, inParameterID, inScope, inElement);
}

CAAUParameter::CAAUParameter(const AudioUnitParameter& inParameter) : CAAUParameter() {
  Init(inParameter.mAudioUnit, inParameter.mParameterID, inParameter.mScope, inParameter.mElement);
}

void CAAUParameter::Init(AudioUnit inUnit, AudioUnitParameterID inParameterID, AudioUnitScope inScope,
                         AudioUnitElement inElement) {
  mAudioUnit = inUnit;
  mParameterID = inParameterID;
  mScope = inScope;
  mElement = inElement;
  displayName.reset();
  unitLabel.reset();
  valueNames.reset();
  indexedValueCount = 0;

  // The unit fills in what it knows; the rest stays zero.
  std::memset(&info, 0, sizeof info);
  UInt32 size = sizeof info;
  if (AudioUnitGetProperty(inUnit, kAudioUnitProperty_ParameterInfo, inScope, inParameterID, &info, &size) != noErr)
    std::memset(&info, 0, sizeof info);

  // With CFNameRelease the record's references are ours to release.
  const bool handedOver = (info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0;
  if (info.flags & kAudioUnitParameterFlag_HasCFNameString) {
    displayName = handedOver ? CFRef<CFStringRef>::Adopt(info.cfNameString)
                             : CFRef<CFStringRef>::Retain(info.cfNameString);
  } else {
    // The name field need not be terminated when the name fills it.
    const size_t length = strnlen(info.name, sizeof info.name);
    displayName.reset(CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t*>(info.name),
                                              static_cast<CFIndex>(length), kCFStringEncodingUTF8, false));
  }

  const char* label = UnitLabel(info.unit);
  char customLabel[256];  // per call, so Init may run on several threads at once
  switch (info.unit) {
    case kAudioUnitParameterUnit_Indexed: {
      CFArrayRef names = nullptr;
      UInt32 namesSize = sizeof names;
      const OSStatus status = AudioUnitGetProperty(inUnit, kAudioUnitProperty_ParameterValueStrings, inScope,
                                                   inParameterID, &names, &namesSize);
      auto held = CFRef<CFArrayRef>::Adopt(status == noErr ? names : nullptr);
      if (CFGetTypeID(held.get()) == CFArrayGetTypeID() && CFArrayGetCount(held.get()) > 0) {
        indexedValueCount = TruncSaturated<SInt16>(static_cast<double>(CFArrayGetCount(held.get())));
        valueNames = std::move(held);
      } else {
        indexedValueCount = RangeCount(info);
      }
      break;
    }
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_MIDIController:
      indexedValueCount = RangeCount(info);
      break;
    case kAudioUnitParameterUnit_CustomUnit:
      // No unit name: no label.
      if (info.unitName != nullptr) {
        // Too long a name keeps its longest whole-character prefix.
        CFStringGetCString(info.unitName, customLabel, sizeof customLabel, kCFStringEncodingUTF8);
        label = customLabel;
      }
      break;
    default:
      break;
  }
  if (label != nullptr) unitLabel = MakeString(label);

  if (handedOver) {
    // Handed-over references not kept as the display name are released, and
    // the record forgets them so that ParamInfo() holds nothing dangling.
    if (info.unitName != nullptr) CFRelease(info.unitName);
    info.unitName = nullptr;
    if (!(info.flags & kAudioUnitParameterFlag_HasCFNameString)) {
      if (info.cfNameString != nullptr) CFRelease(info.cfNameString);
      info.cfNameString = nullptr;
    }
  }
}

Float32 CAAUParameter::GetValue() const {
  AudioUnitParameterValue value = 0.0f;
  if (AudioUnitGetParameter(mAudioUnit, mParameterID, mScope, mElement, &value) != noErr) return 0.0f;
  return value;
}

void CAAUParameter::SetValue(AUParameterListenerRef inListener, void* inObject, Float32 inValue) const {
  // NaN is no value within the range; the unit keeps what it has.
  if (std::isnan(inValue)) return;
  Float32 value = inValue;
  if (value > info.maxValue) value = info.maxValue;
  if (value < info.minValue) value = info.minValue;
  AUParameterSet(inListener, inObject, this, value, 0);
}

CFStringRef CAAUParameter::GetParamName(int inIndex) const {
  if (!valueNames || inIndex < 0 || inIndex >= indexedValueCount) return nullptr;
  const void* name = CFArrayGetValueAtIndex(valueNames.get(), inIndex);
  return CFGetTypeID(name) == CFStringGetTypeID() ? static_cast<CFStringRef>(name) : nullptr;
}

CFStringRef CAAUParameter::GetStringFromValueCopy(const Float32* inValue) const {
  const Float32 value = inValue != nullptr ? *inValue : GetValue();

  if (HasNamedParams()) {
    // Names start at the minimum value.
    const int64_t index = static_cast<int64_t>(TruncSaturated<int32_t>(value)) - TruncSaturated<int32_t>(info.minValue);
    if (index >= 0 && index <= std::numeric_limits<int>::max()) {
      if (CFStringRef name = GetParamName(static_cast<int>(index))) return static_cast<CFStringRef>(CFRetain(name));
    }
  }

  if (ValuesHaveStrings()) {
    AudioUnitParameterStringFromValue request{mParameterID, inValue, nullptr};
    UInt32 size = sizeof request;
    if (AudioUnitGetProperty(mAudioUnit, kAudioUnitProperty_ParameterStringFromValue, mScope, mParameterID,
                             &request, &size) == noErr &&
        request.outString != nullptr)
      return request.outString;
  }

  const bool cents =
      info.unit == kAudioUnitParameterUnit_Cents || info.unit == kAudioUnitParameterUnit_AbsoluteCents;
  return CreateLocalizedStringForParameterValue(value, this, 4, cents ? 0 : 1);
}

Float32 CAAUParameter::GetValueFromString(CFStringRef inString) const {
  if (ValuesHaveStrings()) {
    AudioUnitParameterValueFromString request{mParameterID, inString, 0.0f};
    UInt32 size = sizeof request;
    if (AudioUnitGetProperty(mAudioUnit, kAudioUnitProperty_ParameterValueFromString, mScope, mParameterID,
                             &request, &size) == noErr)
      return request.outValue;
  }
  return NarrowToFloat(ValueForLocalizedParameterString(inString, this));
}

CFStringRef CreateLocalizedStringForParameterValue(double inValue, const CAAUParameter* inParameter, int inDigits,
                                                   int inMinFractionDigits) {
  if (inParameter == nullptr) return nullptr;
  const AudioUnitParameterInfo& info = inParameter->ParamInfo();

  // Digits before the decimal point, from the value for frequencies and from
  // the range for everything else.
  double magnitude;
  if (info.unit == kAudioUnitParameterUnit_Hertz) {
    magnitude = std::fmax(inValue, 0.000001);
  } else {
    const Float32 range = info.maxValue - info.minValue;
    magnitude = std::fmax(range, 0.000001);
  }
  const int power = TruncSaturated<int16_t>(std::log10(magnitude));
  int fraction = inDigits - power - 1;
  if (fraction < 0) fraction = 0;
  if (info.flags & kAudioUnitParameterFlag_IsHighResolution) fraction = 4;

  const CFRef<CFNumberFormatterRef> formatter = CurrentDecimalFormatter();
  SetFractionDigits(formatter.get(), kCFNumberFormatterMaxFractionDigits, fraction);
  SetFractionDigits(formatter.get(), kCFNumberFormatterMinFractionDigits, fraction > 0 ? inMinFractionDigits : 0);
  return CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), kCFNumberDoubleType, &inValue);
}

CFStringRef CreateLocalizedStringForParameterValue(double inValue, const CAAUParameter* inParameter, int inDigits) {
  return CreateLocalizedStringForParameterValue(inValue, inParameter, inDigits, 1);
}

double ValueForLocalizedParameterString(CFStringRef inString, const CAAUParameter* inParameter) {
  if (inParameter == nullptr) return 0.0;
  const CFRef<CFNumberFormatterRef> formatter = CurrentDecimalFormatter();
  double value = 0.0;
  if (CFNumberFormatterGetValueFromString(formatter.get(), inString, nullptr, kCFNumberDoubleType, &value))
    return value;
  return inParameter->ParamInfo().defaultValue;
}
