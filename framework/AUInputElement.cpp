#include "framework/AUInputElement.h"

AUInputElement::AUInputElement(AUBase* audioUnit) : AUIOElement(audioUnit) {}

AUInputElement::~AUInputElement() = default;

OSStatus AUInputElement::SetStreamFormat(const CAStreamBasicDescription& format) {
  const OSStatus result = AUIOElement::SetStreamFormat(format);
  if (result == noErr) AllocateBuffer();
  return result;
}
