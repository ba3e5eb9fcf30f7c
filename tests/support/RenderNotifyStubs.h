// Two distinct render observers that do nothing: the list tests tell
// registrations apart by their function.
#pragma once

#include "framework/AURenderCallback.h"
#include "framework/TThreadSafeList.h"

using RenderCallbackList = TThreadSafeList<RenderCallback>;

inline OSStatus Notify1(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                        AudioBufferList*) {
  return 0;
}
inline OSStatus Notify2(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                        AudioBufferList*) {
  return 0;
}
