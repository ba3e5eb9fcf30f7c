#include <gtest/gtest.h>

#include "platform/AudioTypes.h"

// The record sizes every boundary relies on.
TEST(Records, Lp64Sizes) {
  EXPECT_EQ(sizeof(AudioUnitParameterInfo), 104u);
  EXPECT_EQ(sizeof(AUPreset), 16u);
  EXPECT_EQ(sizeof(HostCallbackInfo), 32u);
  EXPECT_EQ(AudioBufferListSize(2), 8u + 32u);
  EXPECT_EQ(sizeof(AudioStreamBasicDescription), 40u);
}
