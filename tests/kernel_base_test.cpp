#include <gtest/gtest.h>

#include <map>

#include "framework/AUKernelBase.h"

namespace {

class MapOwner final : public AUKernelOwner {
 public:
  Float64 sampleRate = 48000.0;
  std::map<AudioUnitParameterID, AudioUnitParameterValue> params{{0, 1.5f}, {7, -2.0f}};

  Float64 GetSampleRate() override { return sampleRate; }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override {
    const auto it = params.find(id);
    if (it == params.end()) throw OSStatus(kAudioUnitErr_InvalidParameter);
    return it->second;
  }
};

class NullKernel final : public AUKernelBase {
 public:
  using AUKernelBase::AUKernelBase;
  void Process(const float*, float*, unsigned, unsigned, bool&) override {}
};

TEST(AUKernelBaseTest, KernelsOfOneUnitSeeItsCurrentValuesWithoutCopies) {
  MapOwner owner;
  NullKernel a(owner), b(owner);
  for (AUKernelBase* k : {static_cast<AUKernelBase*>(&a), static_cast<AUKernelBase*>(&b)}) {
    EXPECT_EQ(k->GetSampleRate(), 48000.0);
    EXPECT_EQ(k->GetParameter(0), 1.5f);
    EXPECT_EQ(k->GetParameter(7), -2.0f);
  }
  owner.params[0] = 0.25f;
  owner.sampleRate = 96000.0;
  EXPECT_EQ(a.GetParameter(0), 0.25f);
  EXPECT_EQ(b.GetSampleRate(), 96000.0);
}

TEST(AUKernelBaseTest, UnknownParameterRaisesTheOwnersStatus) {
  MapOwner owner;
  NullKernel k(owner);
  try {
    k.GetParameter(1);
    FAIL() << "no exception";
  } catch (OSStatus status) {
    EXPECT_EQ(status, kAudioUnitErr_InvalidParameter);
  }
}

}  // namespace
