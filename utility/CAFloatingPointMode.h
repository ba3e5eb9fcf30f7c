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
// left. Loading the register is the costly part: a thread that already runs
// in this mode (many audio hosts set it) is left alone, and the register is
// loaded again on the way out only when it changed meanwhile (the mode was
// set here, or the render raised a new exception flag).
class CADenormalsAreZeroScope {
 public:
  CADenormalsAreZeroScope() : mSaved(GETCSR()) {
    const int wanted = mSaved | kMXCSR_FlushToZero | kMXCSR_DenormalsAreZero;
    if (wanted != mSaved) SETCSR(wanted);
  }
  ~CADenormalsAreZeroScope() {
    if (GETCSR() != mSaved) SETCSR(mSaved);
  }
  CADenormalsAreZeroScope(const CADenormalsAreZeroScope&) = delete;
  CADenormalsAreZeroScope& operator=(const CADenormalsAreZeroScope&) = delete;

  int SavedCSR() const { return mSaved; }

 private:
  const int mSaved;
};
