#include "framework/AUScopeElement.h"

#include <algorithm>
#include <utility>

// ---- ParameterMapEvent ------------------------------------------------------

void ParameterMapEvent::SetScheduledEvent(const AudioUnitParameterEvent& event,
                                          UInt32 sliceOffsetInBuffer, UInt32 sliceDurationFrames) {
  mEventType = event.eventType;
  mSliceDurationFrames = sliceDurationFrames;
  if (mEventType == kParameterEvent_Immediate) {
    mValue1 = mValue2 = event.eventValues.immediate.value;
    mDurationInFrames = sliceDurationFrames;
    mBufferOffset = 0;
  } else {
    mDurationInFrames = event.eventValues.ramp.durationInFrames;
    // Wraps like the 32-bit subtraction it is; negative once the ramp began
    // in an earlier slice.
    mBufferOffset = static_cast<SInt32>(
        static_cast<UInt32>(event.eventValues.ramp.startBufferOffset) - sliceOffsetInBuffer);
    mValue1 = event.eventValues.ramp.startValue;
    mValue2 = event.eventValues.ramp.endValue;
  }
}

void ParameterMapEvent::GetRampSliceStartEnd(AudioUnitParameterValue& outStart,
                                             AudioUnitParameterValue& outEnd,
                                             AudioUnitParameterValue& outDeltaPerFrame) const {
  if (mEventType == kParameterEvent_Ramped) {
    // Single-precision steps in this exact order: kernels and saved
    // renders depend on the bit-exact results.
    const float delta = (mValue2 - mValue1) / static_cast<float>(mDurationInFrames);
    const float start =
        static_cast<float>(-static_cast<SInt64>(mBufferOffset)) * delta + mValue1;
    const float end = static_cast<float>(mSliceDurationFrames) * delta + start;
    outDeltaPerFrame = delta;
    outStart = start;
    outEnd = end;
  } else {
    outDeltaPerFrame = 0.0f;
    outEnd = outStart = mValue1;
  }
}

// ---- AUElement --------------------------------------------------------------

AUElement::AUElement(AUBase* audioUnit) : mAudioUnit(audioUnit) {}

AUElement::~AUElement() = default;

void AUElement::UseIndexedParameters(int numberOfParameters) {
  // A negative count would wrap to an enormous size; treat it as none.
  mIndexedParameters.resize(static_cast<size_t>(std::max(numberOfParameters, 0)));
  mUseIndexedParameters = true;
}

UInt32 AUElement::GetNumberOfParameters() const {
  return static_cast<UInt32>(mUseIndexedParameters ? mIndexedParameters.size() : mParameters.Size());
}

void AUElement::GetParameterList(AudioUnitParameterID* outList) const {
  if (mUseIndexedParameters) {
    const UInt32 n = static_cast<UInt32>(mIndexedParameters.size());
    for (UInt32 i = 0; i < n; ++i) outList[i] = i;
  } else {
    // No more than counted: an ID added meanwhile must not overrun the list.
    mParameters.ForEach([&](AudioUnitParameterID id, const ParameterMapEvent&) { *outList++ = id; },
                        mParameters.Size());
  }
}

bool AUElement::HasParameter(AudioUnitParameterID paramID) const {
  if (mUseIndexedParameters) return paramID < mIndexedParameters.size();
  return mParameters.Find(paramID) != nullptr;
}

ParameterMapEvent& AUElement::GetParamEvent(AudioUnitParameterID paramID) {
  return const_cast<ParameterMapEvent&>(std::as_const(*this).GetParamEvent(paramID));
}

const ParameterMapEvent& AUElement::GetParamEvent(AudioUnitParameterID paramID) const {
  if (mUseIndexedParameters) {
    // Map entries left from before indexing are no longer consulted.
    if (paramID < mIndexedParameters.size()) return mIndexedParameters[paramID];
  } else if (const ParameterMapEvent* event = mParameters.Find(paramID)) {
    return *event;
  }
  throw OSStatus(kAudioUnitErr_InvalidParameter);
}

AudioUnitParameterValue AUElement::GetParameter(AudioUnitParameterID paramID) const {
  return GetParamEvent(paramID).GetValue();
}

void AUElement::SetParameter(AudioUnitParameterID paramID, AudioUnitParameterValue value) {
  if (mUseIndexedParameters) {
    GetParamEvent(paramID).SetValue(value);
    return;
  }
  // An unknown ID comes into existence here.
  if (ParameterMapEvent* event = mParameters.Find(paramID))
    event->SetValue(value);
  else
    mParameters.Emplace(paramID, ParameterMapEvent(value));
}

void AUElement::SetScheduledEvent(AudioUnitParameterID paramID, const AudioUnitParameterEvent& event,
                                  UInt32 sliceOffsetInBuffer, UInt32 sliceDurationFrames) {
  if (mUseIndexedParameters) {
    GetParamEvent(paramID).SetScheduledEvent(event, sliceOffsetInBuffer, sliceDurationFrames);
    return;
  }
  if (ParameterMapEvent* stored = mParameters.Find(paramID))
    stored->SetScheduledEvent(event, sliceOffsetInBuffer, sliceDurationFrames);
  else
    mParameters.Emplace(paramID, ParameterMapEvent(event, sliceOffsetInBuffer, sliceDurationFrames));
}

bool AUElement::ApplyScheduledEvent(AudioUnitParameterID paramID, const AudioUnitParameterEvent& event,
                                    UInt32 sliceOffsetInBuffer, UInt32 sliceDurationFrames) {
  if (!mUseIndexedParameters && !HasParameter(paramID)) return false;
  SetScheduledEvent(paramID, event, sliceOffsetInBuffer, sliceDurationFrames);
  return true;
}

void AUElement::GetRampSliceStartEnd(AudioUnitParameterID paramID, AudioUnitParameterValue& outStart,
                                     AudioUnitParameterValue& outEnd,
                                     AudioUnitParameterValue& outDeltaPerFrame) const {
  GetParamEvent(paramID).GetRampSliceStartEnd(outStart, outEnd, outDeltaPerFrame);
}

void AUElement::SetName(CFStringRef name) {
  // The new reference is taken before the old one is given back, so setting
  // the held name again keeps it alive.
  mElementName = CFRef<CFStringRef>::Retain(name);
}

// ---- AUScope ----------------------------------------------------------------

AUScope::~AUScope() {
  for (auto& element : mElements) element.reset();
}

void AUScope::Initialize(AUElementCreator* creator, AudioUnitScope scope, UInt32 numElements) {
  mCreator = creator;
  mScope = scope;
  SetNumberOfElements(numElements);
}

void AUScope::SetNumberOfElements(UInt32 numElements) {
  if (numElements > mElements.size()) {
    // No creator yet: nobody can make the elements.
    if (!mCreator) throw OSStatus(kAudioUnitErr_InvalidElement);
    // Room first, so appending cannot fail and leak a created element.
    mElements.reserve(numElements);
    while (mElements.size() < numElements) {
      std::unique_ptr<AUElement> element(
          mCreator->CreateElement(mScope, static_cast<AudioUnitElement>(mElements.size())));
      mElements.push_back(std::move(element));
    }
  } else {
    while (mElements.size() > numElements) {
      // Off the array before it is destroyed, highest number first.
      std::unique_ptr<AUElement> last = std::move(mElements.back());
      mElements.pop_back();
    }
  }
}

AUElement* AUScope::SafeGetElement(UInt32 elementIndex) const {
  AUElement* element = GetElement(elementIndex);
  if (!element) throw OSStatus(kAudioUnitErr_InvalidElement);
  return element;
}
