#include "tools/qelvo/ParameterText.h"

#include <cstdio>

#include "platform/CFRef.h"
#include "tools/qelvo/PluginHost.h"

#if __has_include("utility/CAAUParameter.h")
#include "utility/CAAUParameter.h"

std::string ParameterValueText(AudioUnit unit, AudioUnitParameterID id, float value) {
  CAAUParameter parameter(unit, id, kAudioUnitScope_Global, 0);
  CFRef<CFStringRef> text = CFRef<CFStringRef>::Adopt(parameter.GetStringFromValueCopy(&value));
  return StringOf(text.get());
}
#else
// Builds without the parameter description utility show plain numbers.
std::string ParameterValueText(AudioUnit, AudioUnitParameterID, float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}
#endif
