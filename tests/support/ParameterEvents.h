// Scheduled parameter events as hosts hand them to a unit.
#pragma once

#include "platform/AudioTypes.h"

inline AudioUnitParameterEvent ImmediateEvent(AudioUnitParameterID id, UInt32 offset, Float32 value,
                                              AudioUnitScope scope = kAudioUnitScope_Global,
                                              AudioUnitElement element = 0) {
  AudioUnitParameterEvent e{};
  e.scope = scope;
  e.element = element;
  e.parameter = id;
  e.eventType = kParameterEvent_Immediate;
  e.eventValues.immediate.bufferOffset = offset;
  e.eventValues.immediate.value = value;
  return e;
}

inline AudioUnitParameterEvent RampEvent(AudioUnitParameterID id, SInt32 start, UInt32 duration, Float32 from,
                                         Float32 to) {
  AudioUnitParameterEvent e{};
  e.scope = kAudioUnitScope_Global;
  e.parameter = id;
  e.eventType = kParameterEvent_Ramped;
  e.eventValues.ramp.startBufferOffset = start;
  e.eventValues.ramp.durationInFrames = duration;
  e.eventValues.ramp.startValue = from;
  e.eventValues.ramp.endValue = to;
  return e;
}
