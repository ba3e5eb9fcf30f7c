// Names a parameter-info record after a string the unit keeps.
#pragma once

#include "platform/AudioTypes.h"

// [control] Stores inName as the record's name string and its UTF-8 text (cut to fit)
// in the name field. inShouldRelease tells the host to release the string
// once it is done with the record; constant strings pass false.
void FillInParameterName(AudioUnitParameterInfo& ioInfo, CFStringRef inName, bool inShouldRelease);
