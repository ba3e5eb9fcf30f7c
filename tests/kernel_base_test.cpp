#include <gtest/gtest.h>

#include <map>
#include <memory>

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

// Copies its input and counts how often it was destroyed through the base.
class CopyKernel : public AUKernelBase {
 public:
  CopyKernel(AUKernelOwner& owner, int& destroyed) : AUKernelBase(owner), mDestroyed(destroyed) {}
  ~CopyKernel() override { ++mDestroyed; }
  void Process(const float* source, float* destination, unsigned frames, unsigned stride,
               bool& silence) override {
    for (unsigned i = 0; i < frames; ++i) destination[i * stride] = source[i * stride];
    silence = false;
  }

 private:
  int& mDestroyed;
};

TEST(AUKernelBaseTest, KernelsOfOneUnitSeeItsCurrentValues) {
  MapOwner owner;
  int destroyed = 0;
  CopyKernel a(owner, destroyed), b(owner, destroyed);

  for (AUKernelBase* k : {static_cast<AUKernelBase*>(&a), static_cast<AUKernelBase*>(&b)}) {
    EXPECT_EQ(k->GetSampleRate(), 48000.0);
    EXPECT_EQ(k->GetParameter(0), 1.5f);
    EXPECT_EQ(k->GetParameter(7), -2.0f);
  }
  // No copy is kept: a change is seen at the next question.
  owner.params[0] = 0.25f;
  owner.sampleRate = 96000.0;
  EXPECT_EQ(a.GetParameter(0), 0.25f);
  EXPECT_EQ(b.GetSampleRate(), 96000.0);
}

TEST(AUKernelBaseTest, UnknownParameterRaisesTheOwnersStatus) {
  MapOwner owner;
  int destroyed = 0;
  CopyKernel k(owner, destroyed);
  try {
    k.GetParameter(1);
    FAIL() << "no exception";
  } catch (OSStatus status) {
    EXPECT_EQ(status, kAudioUnitErr_InvalidParameter);
  }
}

TEST(AUKernelBaseTest, ChannelBookkeepingAndDeletionThroughTheBase) {
  MapOwner owner;
  int destroyed = 0;
  {
    std::unique_ptr<AUKernelBase> k = std::make_unique<CopyKernel>(owner, destroyed);
    EXPECT_FALSE(k->IsLastKernel());
    k->SetChannelNum(3);
    k->SetLastKernel(true);
    EXPECT_EQ(k->GetChannelNum(), 3u);
    EXPECT_TRUE(k->IsLastKernel());
    k->SetLastKernel(false);
    EXPECT_FALSE(k->IsLastKernel());
    k->Reset();  // the base has no state to clear

    const float in[4] = {1, 2, 3, 4};
    float out[4] = {0, 0, 0, 0};
    bool silence = true;
    k->Process(in, out, 2, 2, silence);
    EXPECT_FALSE(silence);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 3.0f);
  }
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
