// The stream format every host side of qelvo hands a unit: 32-bit float,
// one buffer per channel.
#pragma once

#include "platform/AudioTypes.h"

inline AudioStreamBasicDescription PlanarFloatFormat(double sampleRate, UInt32 channels) {
  AudioStreamBasicDescription f{};
  f.mSampleRate = sampleRate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  f.mBytesPerPacket = sizeof(float);
  f.mFramesPerPacket = 1;
  f.mBytesPerFrame = sizeof(float);
  f.mChannelsPerFrame = channels;
  f.mBitsPerChannel = 32;
  return f;
}
