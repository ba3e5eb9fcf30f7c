// The thread's SSE floating-point mode (MXCSR). Render calls run with
// denormals treated as zero: decaying filter state would otherwise reach
// denormal numbers, which the processor handles very slowly.
#pragma once

#include <xmmintrin.h>

constexpr int kMXCSR_DenormalsAreZero = 0x40;  // denormal operands read as zero
constexpr int kMXCSR_FlushToZero = 0x8000;     // denormal results written as zero

// Single instructions on the calling thread; fit for the render path.
inline int GETCSR() { return static_cast<int>(_mm_getcsr()); }
inline void SETCSR(int value) { _mm_setcsr(static_cast<unsigned>(value)); }

// Sets flush-to-zero and denormals-are-zero for its lifetime and restores the
// register exactly as it was, exception flags included, however the scope is
// left.
class CADenormalsAreZeroScope {
 public:
  CADenormalsAreZeroScope() : mSaved(GETCSR()) {
    SETCSR(mSaved | kMXCSR_FlushToZero | kMXCSR_DenormalsAreZero);
  }
  ~CADenormalsAreZeroScope() { SETCSR(mSaved); }
  CADenormalsAreZeroScope(const CADenormalsAreZeroScope&) = delete;
  CADenormalsAreZeroScope& operator=(const CADenormalsAreZeroScope&) = delete;

  int SavedCSR() const { return mSaved; }

 private:
  const int mSaved;
};
