#include <gtest/gtest.h>

#include <cfloat>

#include "utility/CAFloatingPointMode.h"
#include "utility/CAVectorUnit.h"

namespace {

// Volatile operands keep the compiler from folding the arithmetic or moving
// it across the register writes.
float Multiply(float a, float b) {
  volatile float x = a, y = b;
  return x * y;
}

TEST(FloatingPointModeTest, ScopeSetsDenormalBitsAndRestoresExactly) {
  const int original = GETCSR();
  // Start from a register with an exception flag raised and a non-default
  // rounding mode, so the restore has more to get right than the defaults.
  const int start = (original & ~0x6000) | 0x2000 | 0x20;
  SETCSR(start);
  {
    CADenormalsAreZeroScope scope;
    EXPECT_EQ(scope.SavedCSR(), start);
    EXPECT_EQ(GETCSR() & ~0x3F, (start | 0x8040) & ~0x3F);
    Multiply(FLT_MIN, 0.5f);  // raises flags of its own inside the scope
  }
  EXPECT_EQ(GETCSR(), start);

  // Also when the scope is left by an exception, as a failed render is.
  try {
    CADenormalsAreZeroScope scope;
    throw OSStatus(kAudioUnitErr_TooManyFramesToProcess);
  } catch (OSStatus) {
  }
  EXPECT_EQ(GETCSR(), start);
  SETCSR(original);
  EXPECT_EQ(GETCSR(), original);
}

// A thread that already runs in the mode: the scope changes nothing on entry,
// and still puts back a flag the render raised.
TEST(FloatingPointModeTest, AlreadyInTheModeTheRegisterStillComesBackExactly) {
  const int original = GETCSR();
  const int start = (original & ~0x3F) | 0x8040;  // no flag raised yet
  SETCSR(start);
  {
    CADenormalsAreZeroScope scope;
    EXPECT_EQ(GETCSR(), start);
    EXPECT_EQ(Multiply(FLT_MIN, 0.5f), 0.0f);  // underflow and inexact, flushed to zero
    EXPECT_NE(GETCSR(), start);
  }
  const int after = GETCSR();
  SETCSR(original);
  EXPECT_EQ(after, start);
}

TEST(FloatingPointModeTest, DenormalsAreZeroInsideTheScopeOnly) {
  const float denormal = FLT_MIN / 4.0f;  // exact: a power of two
  ASSERT_GT(denormal, 0.0f);
  const struct {
    const char* what;
    float a, b;
  } cases[] = {
      {"denormal operand", denormal, 3.0f},
      {"denormal result", FLT_MIN, 0.25f},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    EXPECT_GT(Multiply(tc.a, tc.b), 0.0f);
    {
      CADenormalsAreZeroScope scope;
      EXPECT_EQ(Multiply(tc.a, tc.b), 0.0f);
    }
    EXPECT_GT(Multiply(tc.a, tc.b), 0.0f);
  }
}

class VectorUnitProbe : public CAVectorUnit {
 public:
  static void Forget() { sVectorUnitType.store(kVecUninitialized); }
  static void Pretend(SInt32 type) { sVectorUnitType.store(type); }
};

TEST(VectorUnitTest, AnswerMatchesTheProcessorAndIsCached) {
  __builtin_cpu_init();
  const SInt32 expected = __builtin_cpu_supports("sse3")   ? kVecSSE3
                          : __builtin_cpu_supports("sse2") ? kVecSSE2
                                                           : kVecNone;
  VectorUnitProbe::Forget();
  EXPECT_EQ(CAVectorUnit::GetVectorUnitType(), expected);
  EXPECT_EQ(CAVectorUnit::CheckVectorUnit(), expected);

  // Once known, the cache answers without asking again.
  VectorUnitProbe::Pretend(kVecNone + 7);
  EXPECT_EQ(CAVectorUnit::GetVectorUnitType(), kVecNone + 7);
  // Asking afresh replaces whatever was cached.
  EXPECT_EQ(CAVectorUnit::CheckVectorUnit(), expected);
  EXPECT_EQ(CAVectorUnit::GetVectorUnitType(), expected);
}

}  // namespace
