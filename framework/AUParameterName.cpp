#include "framework/AUParameterName.h"

void FillInParameterName(AudioUnitParameterInfo& ioInfo, CFStringRef inName, bool inShouldRelease) {
  ioInfo.cfNameString = inName;
  ioInfo.flags |= kAudioUnitParameterFlag_HasCFNameString;
  if (inShouldRelease) ioInfo.flags |= kAudioUnitParameterFlag_CFNameRelease;
  // Leaves a terminated prefix when the text is longer than the field.
  CFStringGetCString(inName, ioInfo.name, sizeof ioInfo.name, kCFStringEncodingUTF8);
}
