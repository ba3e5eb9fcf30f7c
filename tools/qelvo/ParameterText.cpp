#include "tools/qelvo/ParameterText.h"

#include "platform/CFRef.h"
#include "tools/qelvo/PluginHost.h"
#include "utility/CAAUParameter.h"

std::string ParameterValueText(AudioUnit unit, AudioUnitParameterID id, float value) {
  CAAUParameter parameter(unit, id, kAudioUnitScope_Global, 0);
  CFRef<CFStringRef> text = CFRef<CFStringRef>::Adopt(parameter.GetStringFromValueCopy(&value));
  return StringOf(text.get());
}
