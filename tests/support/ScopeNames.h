// Short scope names for the property tables of the dispatch tests.
#pragma once

#include "platform/AudioTypes.h"

constexpr AudioUnitScope G = kAudioUnitScope_Global;
constexpr AudioUnitScope I = kAudioUnitScope_Input;
constexpr AudioUnitScope O = kAudioUnitScope_Output;
constexpr AudioUnitScope Grp = kAudioUnitScope_Group;
constexpr AudioUnitScope Prt = kAudioUnitScope_Part;

constexpr AudioChannelLayoutTag kStereoTag = (101u << 16) | 2;
