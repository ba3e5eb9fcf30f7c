// Saved state (the class-info dictionary) and the current preset. The format
// is described in docs/saved-state.md.
#include "framework/AUBase.h"
#include "framework/AUSavedStateFormat.h"
#include "platform/CFRef.h"
#include "platform/ComponentSeam.h"

namespace {

bool IsOfType(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}

// A number that reads exactly as a signed 32-bit value; 0.5 or 2^32 does not.
bool GetExactSInt32(CFTypeRef value, SInt32& outValue) {
  return IsOfType(value, CFNumberGetTypeID()) &&
         CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &outValue);
}

CFRef<CFMutableDictionaryRef> NewStateDictionary() {
  return CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

// Walks "data" chunk by chunk. The checking walk (apply false) runs first and
// refuses any chunk whose words would run past the end or whose values are
// not all finite, so such a state changes nothing. Where the walk itself ends things, both walks agree: a
// missing element stops it with success, and a scope of 5 or more makes the
// applying walk throw kAudioUnitErr_InvalidScope with the earlier chunks
// already applied, as a failing element lookup (or an unknown index on an
// indexed element) does anywhere else.
OSStatus WalkParameterData(AUBase& unit, CFDataRef data, bool apply) {
  const UInt8* p = CFDataGetBytePtr(data);
  const UInt8* const end = p + CFDataGetLength(data);
  while (p != end) {
    if (saved_state::Remaining(p, end) < 8) return kAudioUnitErr_InvalidPropertyValue;
    const UInt32 scope = saved_state::ReadWord(p);
    const UInt32 elementIndex = saved_state::ReadWord(p + 4);
    p += 8;
    if (!apply && scope >= AUBase::kNumScopes) return noErr;
    AUElement* element = unit.GetScope(scope).GetElement(elementIndex);
    if (element == nullptr) return noErr;
    const UInt8* const chunk = p;
    p = apply ? element->RestoreState(p, end) : AUElement::StateEnd(p, end);
    if (p == nullptr) return kAudioUnitErr_InvalidPropertyValue;
    // NaN or an infinity would reach the kernels; the whole state is refused.
    if (!apply && !AUElement::StateValuesAreFinite(chunk, p)) return kAudioUnitErr_InvalidPropertyValue;
  }
  return noErr;
}

}  // namespace

void AddNumToDictionary(CFMutableDictionaryRef dict, CFStringRef key, SInt32 value) {
  CFRef<CFNumberRef> number =
      CFRef<CFNumberRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
  CFDictionarySetValue(dict, key, number.get());
}

OSStatus AUBase::SaveState(CFPropertyListRef* outData) {
  if (outData == nullptr) return paramErr;
  ComponentDescription desc{};
  if (const OSErr err = GetComponentInfo(GetComponentInstance(), &desc); err != noErr) return err;

  CFRef<CFMutableDictionaryRef> dict = NewStateDictionary();
  AddNumToDictionary(dict.get(), kVersionString, 0);
  // Four-character codes travel as signed numbers.
  AddNumToDictionary(dict.get(), kTypeString, static_cast<SInt32>(desc.componentType));
  AddNumToDictionary(dict.get(), kSubtypeString, static_cast<SInt32>(desc.componentSubType));
  AddNumToDictionary(dict.get(), kManufacturerString,
                     static_cast<SInt32>(desc.componentManufacturer));

  CFRef<CFMutableDataRef> data = CFRef<CFMutableDataRef>::Adopt(CFDataCreateMutable(kCFAllocatorDefault, 0));
  // Group and part parameters are not saved.
  for (AudioUnitScope scope = kAudioUnitScope_Global; scope <= kAudioUnitScope_Output; ++scope) {
    AUScope& theScope = GetScope(scope);
    for (UInt32 i = 0, n = theScope.GetNumberOfElements(); i < n; ++i) {
      const AUElement* element = theScope.GetElement(i);
      if (element == nullptr || element->GetNumberOfParameters() == 0) continue;
      saved_state::AppendWord(data.get(), scope);
      saved_state::AppendWord(data.get(), i);
      element->SaveState(data.get());
    }
  }
  CFDictionarySetValue(dict.get(), kDataString, data.get());

  if (mCurrentPreset.presetName != nullptr)
    CFDictionarySetValue(dict.get(), kNameString, mCurrentPreset.presetName);

  // Optional properties: stored only when the unit answers them.
  try {
    UInt32 renderQuality = 0;
    if (DispatchGetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0,
                            &renderQuality) == noErr)
      AddNumToDictionary(dict.get(), kRenderQualityString, static_cast<SInt32>(renderQuality));
  } catch (OSStatus) {
  }
  try {
    Float32 cpuLoad = 0.0f;
    if (DispatchGetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &cpuLoad) ==
        noErr) {
      CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(
          CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &cpuLoad));
      CFDictionarySetValue(dict.get(), kCPULoadString, number.get());
    }
  } catch (OSStatus) {
  }

  bool anyNames = false;
  for (AudioUnitScope scope = 0; scope < kNumScopes; ++scope)
    anyNames = anyNames || GetScope(scope).HasElementWithName();
  if (anyNames) {
    CFRef<CFMutableDictionaryRef> names = NewStateDictionary();
    for (AudioUnitScope scope = 0; scope < kNumScopes; ++scope)
      GetScope(scope).AddElementNamesToDict(names.get());
    CFDictionarySetValue(dict.get(), kElementNameString, names.get());
  }

  *outData = dict.release();
  return noErr;
}

OSStatus AUBase::RestoreState(CFPropertyListRef inData) {
  if (!IsOfType(inData, CFDictionaryGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
  const auto dict = static_cast<CFDictionaryRef>(inData);

  ComponentDescription desc{};
  if (const OSErr err = GetComponentInfo(GetComponentInstance(), &desc); err != noErr) return err;

  if (CFDictionaryContainsKey(dict, kPartString)) return kAudioUnitErr_InvalidPropertyValue;

  // "type" is not compared: a state moves between units of one subtype and
  // manufacturer.
  SInt32 number;
  if (!GetExactSInt32(CFDictionaryGetValue(dict, kVersionString), number) || number != 0)
    return kAudioUnitErr_InvalidPropertyValue;
  if (!GetExactSInt32(CFDictionaryGetValue(dict, kSubtypeString), number) ||
      number != static_cast<SInt32>(desc.componentSubType))
    return kAudioUnitErr_InvalidPropertyValue;
  if (!GetExactSInt32(CFDictionaryGetValue(dict, kManufacturerString), number) ||
      number != static_cast<SInt32>(desc.componentManufacturer))
    return kAudioUnitErr_InvalidPropertyValue;

  // Everything else is checked before anything changes.
  CFTypeRef data = nullptr;
  const bool hasData = CFDictionaryGetValueIfPresent(dict, kDataString, &data);
  if (hasData) {
    if (!IsOfType(data, CFDataGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
    if (const OSStatus result = WalkParameterData(*this, static_cast<CFDataRef>(data), false);
        result != noErr)
      return result;
  }
  CFTypeRef name = nullptr;
  if (CFDictionaryGetValueIfPresent(dict, kNameString, &name) &&
      !IsOfType(name, CFStringGetTypeID()))
    return kAudioUnitErr_InvalidPropertyValue;
  CFTypeRef names = nullptr;
  const bool hasNames = CFDictionaryGetValueIfPresent(dict, kElementNameString, &names);
  if (hasNames) {
    if (!IsOfType(names, CFDictionaryGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
    for (AudioUnitScope scope = 0; scope < kNumScopes; ++scope) {
      CFTypeRef scopeNames = nullptr;
      if (CFDictionaryGetValueIfPresent(static_cast<CFDictionaryRef>(names),
                                        saved_state::MakeDecimalKey(scope).get(), &scopeNames) &&
          !GetScope(scope).CanRestoreElementNames(scopeNames))
        return kAudioUnitErr_InvalidPropertyValue;
    }
  }

  if (hasData) WalkParameterData(*this, static_cast<CFDataRef>(data), true);

  // A restored state is a user preset; a factory number is not saved.
  const CFStringRef newName = name != nullptr ? static_cast<CFStringRef>(name) : kUntitledString;
  CFRetain(newName);
  if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
  mCurrentPreset.presetNumber = -1;
  mCurrentPreset.presetName = newName;
  PropertyChanged(kAudioUnitProperty_CurrentPreset, kAudioUnitScope_Global, 0);
  PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);

  // The unit may refuse these; that does not fail the restore.
  CFTypeRef value = nullptr;
  if (CFDictionaryGetValueIfPresent(dict, kRenderQualityString, &value) &&
      IsOfType(value, CFNumberGetTypeID())) {
    SInt32 renderQuality = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &renderQuality);
    try {
      DispatchSetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0,
                          &renderQuality, sizeof renderQuality);
    } catch (OSStatus) {
    }
  }
  if (CFDictionaryGetValueIfPresent(dict, kCPULoadString, &value) &&
      IsOfType(value, CFNumberGetTypeID())) {
    Float32 cpuLoad = 0.0f;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberFloatType, &cpuLoad);
    try {
      DispatchSetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &cpuLoad,
                          sizeof cpuLoad);
    } catch (OSStatus) {
    }
  }

  if (hasNames) {
    for (AudioUnitScope scope = 0; scope < kNumScopes; ++scope) {
      CFTypeRef scopeNames = nullptr;
      if (CFDictionaryGetValueIfPresent(static_cast<CFDictionaryRef>(names),
                                        saved_state::MakeDecimalKey(scope).get(), &scopeNames) &&
          GetScope(scope).RestoreElementNames(static_cast<CFDictionaryRef>(scopeNames)))
        PropertyChanged(kAudioUnitProperty_ElementCount, scope, 0);
    }
  }
  return noErr;
}

bool AUBase::SetAFactoryPresetAsCurrent(const AUPreset& inPreset) {
  if (inPreset.presetNumber < 0 || inPreset.presetName == nullptr) return false;
  // Take the new name before letting go of the old one: they may be the same.
  CFRetain(inPreset.presetName);
  if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
  mCurrentPreset = inPreset;
  return true;
}
