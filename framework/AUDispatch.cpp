// Property dispatch: the properties the framework owns, with their sizes,
// scope rules and checks, every other ID going to the virtual handlers; the
// change notices after successful writes; and the unit-level channel-layout
// operations.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "framework/AUBase.h"
#include "framework/AUFastDispatch.h"
#include "utility/CAAudioChannelLayout.h"

namespace {

// Host buffers need not be aligned for the record they carry, so values go in
// and out by copy.
template <class T>
void Put(void* data, const T& value) {
  std::memcpy(data, &value, sizeof(T));
}

template <class T>
T Take(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof(T));
  return value;
}

// Strings, property lists, URLs and function addresses cross as one reference.
constexpr UInt32 kReferenceSize = sizeof(CFTypeRef);
constexpr UInt32 kFormatSize = sizeof(AudioStreamBasicDescription);
// A format write may leave out the trailing reserved word.
constexpr UInt32 kFormatWriteSize = offsetof(AudioStreamBasicDescription, mReserved);
constexpr UInt32 kLayoutHeaderSize = offsetof(AudioChannelLayout, mChannelDescriptions);

// The steps shared by sample-rate and format writes.
OSStatus WriteStreamFormat(AUBase& unit, AudioUnitScope inScope, AudioUnitElement inElement,
                           const CAStreamBasicDescription& newFormat) {
  // A copy: the change overwrites the element's own record.
  const CAStreamBasicDescription current = unit.GetStreamFormat(inScope, inElement);
  if (!unit.ValidFormat(inScope, inElement, newFormat)) return kAudioUnitErr_FormatNotSupported;
  if (current == newFormat) return noErr;
  if (!unit.IsStreamFormatWritable(inScope, inElement)) return kAudioUnitErr_PropertyNotWritable;
  return unit.ChangeStreamFormat(inScope, inElement, current, newFormat);
}

// Takes a reference to the new value before letting go of the old one, so
// storing the value already held never frees it.
void Replace(CFStringRef& slot, CFStringRef value) {
  if (value != nullptr) CFRetain(value);
  if (slot != nullptr) CFRelease(slot);
  slot = value;
}

}  // namespace

// ---- information -------------------------------------------------------------------

OSStatus AUBase::DispatchGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                         AudioUnitElement inElement, UInt32& outDataSize,
                                         Boolean& outWritable) {
  // [control] One control thread at a time (AUBase.h).
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  const bool global = inScope == kAudioUnitScope_Global;
  OSStatus result = noErr;
  bool testElement = false;

  switch (inID) {
    case kAudioUnitProperty_ClassInfo:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = kReferenceSize;
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_MakeConnection:
      if (!global && inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(AudioUnitConnection);
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_SampleRate:
      outDataSize = sizeof(Float64);
      outWritable = IsStreamFormatWritable(inScope, inElement);
      testElement = true;
      break;

    case kAudioUnitProperty_ParameterList: {
      UInt32 count = 0;
      result = GetParameterList(inScope, nullptr, count);
      outDataSize = count * static_cast<UInt32>(sizeof(AudioUnitParameterID));
      outWritable = false;
      break;
    }

    case kAudioUnitProperty_ParameterInfo:
      outDataSize = sizeof(AudioUnitParameterInfo);
      outWritable = false;
      break;

    case kAudioUnitProperty_FastDispatch:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = kReferenceSize;
      outWritable = false;
      break;

    case kAudioUnitProperty_StreamFormat:
      outDataSize = kFormatSize;
      outWritable = IsStreamFormatWritable(inScope, inElement);
      testElement = true;
      break;

    case kAudioUnitProperty_ElementCount:
      outDataSize = sizeof(UInt32);
      outWritable = BusCountWritable(inScope);
      break;

    case kAudioUnitProperty_Latency:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(Float64);
      outWritable = false;
      testElement = true;
      break;

    case kAudioUnitProperty_SupportedNumChannels: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const AUChannelInfo* info = nullptr;
      const UInt32 entries = SupportedNumChannels(&info);
      if (entries == 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = entries * static_cast<UInt32>(sizeof(AUChannelInfo));
      outWritable = false;
      testElement = true;
      break;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(UInt32);
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_ParameterValueStrings:
      result = GetParameterValueStrings(inScope, inElement, nullptr);
      if (result == noErr) {
        outDataSize = kReferenceSize;
        outWritable = false;
      }
      break;

    case kAudioUnitProperty_GetUIComponentList: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const int count = GetNumCustomUIComponents();
      if (count <= 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = static_cast<UInt32>(count) * static_cast<UInt32>(sizeof(ComponentDescription));
      outWritable = false;
      testElement = true;
      break;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
      outWritable = false;
      const UInt32 size = GetAudioChannelLayout(inScope, inElement, nullptr, outWritable);
      if (size == 0) {
        // Tags without a current layout: the value exists but is not set.
        return GetChannelLayoutTags(inScope, inElement, nullptr) == 0
                   ? kAudioUnitErr_InvalidProperty
                   : kAudioUnitErr_InvalidPropertyValue;
      }
      outDataSize = size;
      break;
    }

    case kAudioUnitProperty_TailTime:
      if (!global) return kAudioUnitErr_InvalidScope;
      if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
      outDataSize = sizeof(Float64);
      outWritable = false;
      testElement = true;
      break;

    case kAudioUnitProperty_LastRenderError:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(OSStatus);
      outWritable = false;
      testElement = true;
      break;

    case kAudioUnitProperty_SetRenderCallback:
      if (AudioUnitAPIVersion() < 2) return kAudioUnitErr_InvalidProperty;
      if (!global && inScope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(AURenderCallbackStruct);
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_FactoryPresets:
      if (!global) return kAudioUnitErr_InvalidScope;
      result = GetPresets(nullptr);
      if (result == noErr) {
        outDataSize = kReferenceSize;
        outWritable = false;
        testElement = true;
      }
      break;

    case kAudioUnitProperty_ContextName:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = kReferenceSize;
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_HostCallbacks:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(HostCallbackInfo);
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_CurrentPreset:
    case kAudioUnitProperty_PresentPreset:
      if (!global) return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(AUPreset);
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_ElementName:
      outDataSize = kReferenceSize;
      outWritable = true;
      testElement = true;
      break;

    case kAudioUnitProperty_SupportedChannelLayoutTags: {
      const UInt32 count = GetChannelLayoutTags(inScope, inElement, nullptr);
      if (count == 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = count * static_cast<UInt32>(sizeof(AudioChannelLayoutTag));
      outWritable = false;
      break;
    }

    case kAudioUnitProperty_IconLocation:
      if (!global) return kAudioUnitErr_InvalidScope;
      if (!HasIcon()) return kAudioUnitErr_InvalidProperty;
      outDataSize = kReferenceSize;
      outWritable = false;
      testElement = true;
      break;

    default:
      return GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
  }

  if (result == noErr && testElement && GetElement(inScope, inElement) == nullptr)
    result = kAudioUnitErr_InvalidElement;
  return result;
}

// ---- reading -------------------------------------------------------------------------

OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, void* outData) {
  // [control] One control thread at a time (AUBase.h).
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  switch (inID) {
    case kAudioUnitProperty_ClassInfo:
      Put<CFPropertyListRef>(outData, nullptr);
      return SaveState(static_cast<CFPropertyListRef*>(outData));

    case kAudioUnitProperty_SampleRate:
      Put<Float64>(outData, GetStreamFormat(inScope, inElement).mSampleRate);
      return noErr;

    case kAudioUnitProperty_ParameterList: {
      UInt32 count = 0;
      return GetParameterList(inScope, static_cast<AudioUnitParameterID*>(outData), count);
    }

    case kAudioUnitProperty_ParameterInfo:
      // The element field carries the parameter ID.
      return GetParameterInfo(inScope, inElement, *static_cast<AudioUnitParameterInfo*>(outData));

    case kAudioUnitProperty_FastDispatch:
      if (inElement == static_cast<UInt32>(kAudioUnitGetParameterSelect)) {
        Put<AudioUnitGetParameterProc>(outData, &AudioUnitBaseGetParameter);
        return noErr;
      }
      if (inElement == static_cast<UInt32>(kAudioUnitSetParameterSelect)) {
        Put<AudioUnitSetParameterProc>(outData, &AudioUnitBaseSetParameter);
        return noErr;
      }
      if (inElement == static_cast<UInt32>(kAudioUnitRenderSelect)) {
        if (AudioUnitAPIVersion() < 2) return kAudioUnitErr_InvalidElement;
        Put<AudioUnitRenderFastProc>(outData, &AudioUnitBaseRender);
        return noErr;
      }
      return GetProperty(inID, inScope, inElement, outData);

    case kAudioUnitProperty_StreamFormat:
      Put<AudioStreamBasicDescription>(outData, GetStreamFormat(inScope, inElement));
      return noErr;

    case kAudioUnitProperty_ElementCount:
      Put<UInt32>(outData, GetScope(inScope).GetNumberOfElements());
      return noErr;

    case kAudioUnitProperty_Latency:
      Put<Float64>(outData, GetLatency());
      return noErr;

    case kAudioUnitProperty_SupportedNumChannels: {
      const AUChannelInfo* info = nullptr;
      const UInt32 entries = SupportedNumChannels(&info);
      if (entries > 0 && info != nullptr)
        std::memcpy(outData, info, entries * sizeof(AUChannelInfo));
      return noErr;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice:
      Put<UInt32>(outData, GetMaxFramesPerSlice());
      return noErr;

    case kAudioUnitProperty_ParameterValueStrings:
      return GetParameterValueStrings(inScope, inElement, static_cast<CFArrayRef*>(outData));

    case kAudioUnitProperty_GetUIComponentList:
      GetUIComponentDescs(static_cast<ComponentDescription*>(outData));
      return noErr;

    case kAudioUnitProperty_AudioChannelLayout: {
      Boolean writable = false;
      const UInt32 size = GetAudioChannelLayout(inScope, inElement,
                                                static_cast<AudioChannelLayout*>(outData), writable);
      return size == 0 ? kAudioUnitErr_InvalidProperty : noErr;
    }

    case kAudioUnitProperty_TailTime:
      if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
      Put<Float64>(outData, GetTailTime());
      return noErr;

    case kAudioUnitProperty_LastRenderError:
      // Reading clears it, so the host sees each failure once.
      Put<OSStatus>(outData, mLastRenderError);
      mLastRenderError = noErr;
      return noErr;

    case kAudioUnitProperty_FactoryPresets:
      Put<CFArrayRef>(outData, nullptr);
      return GetPresets(static_cast<CFArrayRef*>(outData));

    case kAudioUnitProperty_ContextName:
      Put<CFStringRef>(outData, mContextName);
      if (mContextName == nullptr) return kAudioUnitErr_InvalidPropertyValue;
      CFRetain(mContextName);  // the caller's own reference
      return noErr;

    case kAudioUnitProperty_HostCallbacks:
      Put<HostCallbackInfo>(outData, mHostCallbackInfo);
      return noErr;

    case kAudioUnitProperty_CurrentPreset:
      Put<AUPreset>(outData, mCurrentPreset);
      return noErr;

    case kAudioUnitProperty_PresentPreset:
      Put<AUPreset>(outData, mCurrentPreset);
      if (mCurrentPreset.presetName != nullptr) CFRetain(mCurrentPreset.presetName);
      return noErr;

    case kAudioUnitProperty_ElementName: {
      const AUElement* element = SafeGetElement(inScope, inElement);
      if (!element->HasName()) return kAudioUnitErr_InvalidPropertyValue;
      CFStringRef name = element->GetName();
      CFRetain(name);
      Put<CFStringRef>(outData, name);
      return noErr;
    }

    case kAudioUnitProperty_SupportedChannelLayoutTags: {
      const UInt32 count =
          GetChannelLayoutTags(inScope, inElement, static_cast<AudioChannelLayoutTag*>(outData));
      return count == 0 ? kAudioUnitErr_InvalidProperty : noErr;
    }

    case kAudioUnitProperty_IconLocation: {
      CFURLRef location = CopyIconLocation();  // handed on to the caller
      if (location == nullptr) return kAudioUnitErr_InvalidProperty;
      Put<CFURLRef>(outData, location);
      return noErr;
    }

    default:
      return GetProperty(inID, inScope, inElement, outData);
  }
}

// ---- writing -----------------------------------------------------------------------------
// Every check comes before the first byte of the caller's data is read, and
// no read goes past the size the caller gave.

OSStatus AUBase::DispatchSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                     AudioUnitElement inElement, const void* inData,
                                     UInt32 inDataSize) {
  // [control] One control thread at a time (AUBase.h).
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  const bool global = inScope == kAudioUnitScope_Global;

  switch (inID) {
    case kAudioUnitProperty_ClassInfo:
      if (inDataSize != kReferenceSize) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      return RestoreState(Take<CFPropertyListRef>(inData));

    case kAudioUnitProperty_MakeConnection:
      if (inDataSize < sizeof(AudioUnitConnection)) return kAudioUnitErr_InvalidPropertyValue;
      return SetConnection(Take<AudioUnitConnection>(inData));

    case kAudioUnitProperty_SampleRate: {
      if (inDataSize != sizeof(Float64)) return kAudioUnitErr_InvalidPropertyValue;
      if (GetElement(inScope, inElement) == nullptr) return kAudioUnitErr_InvalidElement;
      CAStreamBasicDescription format = GetStreamFormat(inScope, inElement);
      format.mSampleRate = Take<Float64>(inData);
      return WriteStreamFormat(*this, inScope, inElement, format);
    }

    case kAudioUnitProperty_StreamFormat: {
      if (inDataSize < kFormatWriteSize) return kAudioUnitErr_InvalidPropertyValue;
      if (GetElement(inScope, inElement) == nullptr) return kAudioUnitErr_InvalidElement;
      AudioStreamBasicDescription record{};  // all zero, so the reserved word stays 0
      std::memcpy(&record, inData, kFormatWriteSize);
      const CAStreamBasicDescription format(record);
      return WriteStreamFormat(*this, inScope, inElement, format);
    }

    case kAudioUnitProperty_ElementCount: {
      if (inDataSize != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      if (!BusCountWritable(inScope)) return kAudioUnitErr_PropertyNotWritable;
      const OSStatus result = SetBusCount(inScope, Take<UInt32>(inData));
      if (result == noErr) PropertyChanged(inID, inScope, inElement);
      return result;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice: {
      if (inDataSize != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      const OSStatus allowed = CanSetMaxFrames();
      if (allowed != noErr) return allowed;
      SetMaxFramesPerSlice(Take<UInt32>(inData));
      return noErr;
    }

    case kAudioUnitProperty_SetExternalBuffer: {
      if (inDataSize < sizeof(AudioUnitExternalBuffer)) return kAudioUnitErr_InvalidPropertyValue;
      if (!IsInitialized()) return kAudioUnitErr_Uninitialized;
      const auto buffer = Take<AudioUnitExternalBuffer>(inData);
      if (reinterpret_cast<uintptr_t>(buffer.buffer) % 16 != 0) return paramErr;
      AUIOElement* element = inScope == kAudioUnitScope_Input
                                 ? static_cast<AUIOElement*>(GetInput(inElement))
                                 : static_cast<AUIOElement*>(GetOutput(inElement));
      element->UseExternalBuffer(buffer);
      return noErr;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
      // The header first: the description count lives in it.
      if (inDataSize < kLayoutHeaderSize) return kAudioUnitErr_InvalidPropertyValue;
      const auto descriptions = Take<UInt32>(static_cast<const Byte*>(inData) +
                                             offsetof(AudioChannelLayout, mNumberChannelDescriptions));
      // 64-bit, so a huge count cannot wrap round to a small size.
      const UInt64 needed = UInt64{kLayoutHeaderSize} + UInt64{sizeof(AudioChannelDescription)} * descriptions;
      if (inDataSize < needed) return kAudioUnitErr_InvalidPropertyValue;
      const OSStatus result =
          SetAudioChannelLayout(inScope, inElement, static_cast<const AudioChannelLayout*>(inData));
      if (result == noErr) PropertyChanged(inID, inScope, inElement);
      return result;
    }

    case kAudioUnitProperty_SetRenderCallback: {
      if (inDataSize < sizeof(AURenderCallbackStruct)) return kAudioUnitErr_InvalidPropertyValue;
      if (AudioUnitAPIVersion() < 2) return kAudioUnitErr_InvalidProperty;
      const auto callback = Take<AURenderCallbackStruct>(inData);
      return SetInputCallback(kAudioUnitProperty_SetRenderCallback, inElement, callback.inputProc,
                              callback.inputProcRefCon);
    }

    case kAudioUnitProperty_ContextName:
      if (inDataSize != kReferenceSize) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      Replace(mContextName, Take<CFStringRef>(inData));
      PropertyChanged(inID, inScope, inElement);
      return noErr;

    case kAudioUnitProperty_HostCallbacks: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const size_t count = std::min<size_t>(inDataSize, sizeof(HostCallbackInfo));
      const bool differs = std::memcmp(inData, &mHostCallbackInfo, count) != 0;
      std::memset(&mHostCallbackInfo, 0, sizeof(HostCallbackInfo));
      std::memcpy(&mHostCallbackInfo, inData, count);
      if (differs) PropertyChanged(inID, inScope, inElement);
      return noErr;
    }

    case kAudioUnitProperty_CurrentPreset:
    case kAudioUnitProperty_PresentPreset: {
      if (inDataSize != sizeof(AUPreset)) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      const auto preset = Take<AUPreset>(inData);
      if (preset.presetNumber >= 0) {
        const OSStatus result = NewFactoryPresetSet(preset);
        if (result == noErr) PropertyChanged(inID, inScope, inElement);
        return result;
      }
      // A user preset is known by its name alone.
      if (preset.presetName == nullptr) return kAudioUnitErr_InvalidPropertyValue;
      Replace(mCurrentPreset.presetName, preset.presetName);
      mCurrentPreset.presetNumber = preset.presetNumber;
      PropertyChanged(inID, inScope, inElement);
      return noErr;
    }

    case kAudioUnitProperty_ElementName: {
      AUElement* element = GetElement(inScope, inElement);
      if (element == nullptr) return kAudioUnitErr_InvalidElement;
      if (inDataSize != kReferenceSize) return kAudioUnitErr_InvalidPropertyValue;
      element->SetName(Take<CFStringRef>(inData));
      PropertyChanged(inID, inScope, inElement);
      return noErr;
    }

    default: {
      const OSStatus result = SetProperty(inID, inScope, inElement, inData, inDataSize);
      if (result == noErr) PropertyChanged(inID, inScope, inElement);
      return result;
    }
  }
}

// ---- removal -------------------------------------------------------------------------------

OSStatus AUBase::DispatchRemovePropertyValue(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                             AudioUnitElement inElement) {
  // [control] One control thread at a time (AUBase.h).
  AUCallScope control(mControlOwner);
  if (!control.Entered()) return kQelvoErr_UnitBusy;
  switch (inID) {
    case kAudioUnitProperty_AudioChannelLayout: {
      const OSStatus result = RemoveAudioChannelLayout(inScope, inElement);
      if (result == noErr) PropertyChanged(inID, inScope, inElement);
      return result;
    }

    case kAudioUnitProperty_ContextName:
      Replace(mContextName, nullptr);
      return noErr;

    case kAudioUnitProperty_HostCallbacks: {
      if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
      static constexpr HostCallbackInfo kNone{};
      if (std::memcmp(&mHostCallbackInfo, &kNone, sizeof(HostCallbackInfo)) != 0) {
        mHostCallbackInfo = kNone;
        PropertyChanged(inID, inScope, inElement);
      }
      return noErr;
    }

    default:
      return RemovePropertyValue(inID, inScope, inElement);
  }
}

// ---- channel layouts at unit level -------------------------------------------------------

UInt32 AUBase::GetChannelLayoutTags(AudioUnitScope inScope, AudioUnitElement inElement,
                                    AudioChannelLayoutTag* outLayoutTags) {
  return GetIOElement(inScope, inElement)->GetChannelLayoutTags(outLayoutTags);
}

UInt32 AUBase::GetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                     AudioChannelLayout* outLayout, Boolean& outWritable) {
  return GetIOElement(inScope, inElement)->GetAudioChannelLayout(outLayout, outWritable);
}

OSStatus AUBase::SetAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement,
                                       const AudioChannelLayout* inLayout) {
  AUIOElement* element = GetIOElement(inScope, inElement);
  if (inLayout == nullptr) return kAudioUnitErr_InvalidPropertyValue;
  if (element->GetStreamFormat().NumberChannels() != CAAudioChannelLayout::NumberChannels(*inLayout))
    return kAudioUnitErr_InvalidPropertyValue;

  const UInt32 count = GetChannelLayoutTags(inScope, inElement, nullptr);
  if (count == 0) return kAudioUnitErr_InvalidProperty;
  auto tags = std::make_unique<AudioChannelLayoutTag[]>(count);
  GetChannelLayoutTags(inScope, inElement, tags.get());
  // Tag 0 stands for layouts given by their descriptions and takes any layout.
  const bool accepted = std::any_of(tags.get(), tags.get() + count, [&](AudioChannelLayoutTag tag) {
    return tag == inLayout->mChannelLayoutTag ||
           tag == kAudioChannelLayoutTag_UseChannelDescriptions;
  });
  tags.reset();
  if (!accepted) return kAudioUnitErr_InvalidPropertyValue;
  return element->SetAudioChannelLayout(*inLayout);
}

OSStatus AUBase::RemoveAudioChannelLayout(AudioUnitScope inScope, AudioUnitElement inElement) {
  AUIOElement* element = GetIOElement(inScope, inElement);
  Boolean writable = false;
  if (element->GetAudioChannelLayout(nullptr, writable) == 0) return noErr;
  return element->RemoveAudioChannelLayout();
}
