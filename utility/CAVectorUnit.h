// Which SSE generation the processor offers. Asked once per process, when the
// first unit is constructed.
#pragma once

#include <atomic>

#include "platform/AudioTypes.h"

enum : SInt32 {
  kVecUninitialized = -1,
  kVecNone = 0,
  kVecSSE2 = 100,
  kVecSSE3 = 101,
};

class CAVectorUnit {
 public:
  // The cached answer; asks the processor the first time.
  static SInt32 GetVectorUnitType();
  // Asks the processor, caches the answer and returns it.
  static SInt32 CheckVectorUnit();

 protected:
  // kVecUninitialized until first asked. Concurrent first queries store the
  // same answer; atomic only so that is not a data race.
  static std::atomic<SInt32> sVectorUnitType;
};
