#include "utility/CAVectorUnit.h"

#include <cpuid.h>

std::atomic<SInt32> CAVectorUnit::sVectorUnitType{kVecUninitialized};

SInt32 CAVectorUnit::GetVectorUnitType() {
  const SInt32 cached = sVectorUnitType.load(std::memory_order_relaxed);
  return cached != kVecUninitialized ? cached : CheckVectorUnit();
}

SInt32 CAVectorUnit::CheckVectorUnit() {
  // Linux has no system value for this; the processor's feature leaf answers.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  SInt32 type = kVecNone;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
    if ((ecx & bit_SSE3) != 0) {
      type = kVecSSE3;
    } else if ((edx & bit_SSE2) != 0) {
      type = kVecSSE2;
    }
  }
  sVectorUnitType.store(type, std::memory_order_relaxed);
  return type;
}
