// Statuses as people read them: "kAudioUnitErr_FormatNotSupported (-10868)".
#pragma once

#include <string>

#include "platform/AudioTypes.h"

std::string StatusName(OSStatus status);
