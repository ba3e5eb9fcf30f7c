#include "framework/AUIOElement.h"

#include "framework/AUBase.h"

AUIOElement::AUIOElement(AUBase* audioUnit) : AUElement(audioUnit) {
  // Non-interleaved: every unit here speaks interface version 2.
  mStreamFormat.SetCanonical(2, false);
  mStreamFormat.mSampleRate = 44100.0;
}

AUIOElement::~AUIOElement() = default;

OSStatus AUIOElement::SetStreamFormat(const CAStreamBasicDescription& format) {
  mStreamFormat = format;
  return noErr;
}

UInt32 AUIOElement::GetChannelLayoutTags(AudioChannelLayoutTag*) { return 0; }

UInt32 AUIOElement::GetAudioChannelLayout(AudioChannelLayout*, Boolean&) { return 0; }

OSStatus AUIOElement::SetAudioChannelLayout(const AudioChannelLayout&) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUIOElement::RemoveAudioChannelLayout() { return kAudioUnitErr_InvalidPropertyValue; }

void AUIOElement::AllocateBuffer(UInt32 framesToAllocate) {
  const AUBase* unit = GetAudioUnit();
  if (!unit || !unit->IsInitialized()) return;
  const UInt32 frames = framesToAllocate ? framesToAllocate : unit->GetMaxFramesPerSlice();
  // An element without memory still gets descriptor room for its streams.
  mIOBuffer.Allocate(mStreamFormat, NeedsBufferSpace() ? frames : 0);
}

// Lives here since it needs the complete IO element type.
AUIOElement* AUScope::GetIOElement(UInt32 elementIndex) const {
  auto* element = dynamic_cast<AUIOElement*>(GetElement(elementIndex));
  if (!element) throw OSStatus(kAudioUnitErr_InvalidElement);
  return element;
}
