#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "framework/AUBase.h"
#include "framework/AUInputElement.h"
#include "framework/AUOutputElement.h"
#include "support/ThrownStatus.h"

namespace {

// Makes plain elements for even numbers and output buses for odd ones.
class MixedCreator : public AUElementCreator {
 public:
  AUElement* CreateElement(AudioUnitScope, AudioUnitElement element) override {
    if (element % 2 == 0) return new AUElement(nullptr);
    return new AUOutputElement(nullptr);
  }
};

// The smallest complete unit: one input, one output.
class TestUnit : public AUBase {
 public:
  TestUnit() : AUBase(nullptr, 1, 1) {}
  bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override { return true; }
};

CAStreamBasicDescription Format(UInt32 channels) {
  CAStreamBasicDescription format;
  format.SetCanonical(channels, false);
  format.mSampleRate = 48000.0;
  return format;
}

}  // namespace

TEST(IOElement, StartsAsStereoNonInterleavedFloat) {
  AUOutputElement output(nullptr);
  AUInputElement input(nullptr);
  for (const AUIOElement* element : {static_cast<const AUIOElement*>(&output), static_cast<const AUIOElement*>(&input)}) {
    const CAStreamBasicDescription& f = element->GetStreamFormat();
    EXPECT_EQ(f.mSampleRate, 44100.0);
    EXPECT_EQ(f.mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(f.mFormatFlags, 0x29u);
    EXPECT_EQ(f.mBytesPerPacket, 4u);
    EXPECT_EQ(f.mFramesPerPacket, 1u);
    EXPECT_EQ(f.mBytesPerFrame, 4u);
    EXPECT_EQ(f.mChannelsPerFrame, 2u);
    EXPECT_EQ(f.mBitsPerChannel, 32u);
    EXPECT_EQ(f.NumberChannelStreams(), 2u);
  }
}

TEST(IOElement, SetStreamFormatStoresEveryByteWithoutJudging) {
  AUOutputElement output(nullptr);
  AUInputElement input(nullptr);
  CAStreamBasicDescription odd;
  odd.mSampleRate = 8000.0;
  odd.mFormatID = 0x61632D33u;  // not PCM at all: judging formats is the unit's job
  odd.mChannelsPerFrame = 6;
  odd.mReserved = 77;
  for (AUIOElement* element : {static_cast<AUIOElement*>(&output), static_cast<AUIOElement*>(&input)}) {
    EXPECT_EQ(element->SetStreamFormat(odd), noErr);
    EXPECT_EQ(std::memcmp(&element->GetStreamFormat(), &odd, sizeof odd), 0);
    // Without an initialized unit nothing is laid out.
    EXPECT_EQ(element->GetIOBuffer().GetAllocatedStreams(), 0u);
    EXPECT_EQ(ThrownStatus([&] { element->PrepareBuffer(16); }), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(ThrownStatus([&] { element->GetBufferList(); }), -1);
  }
}

TEST(IOElement, ChannelLayoutsAreRefusedWithoutTouchingTheCallersMemory) {
  AUInputElement input(nullptr);
  AudioChannelLayoutTag tags[1] = {123};
  AudioChannelLayout layout{};
  layout.mChannelLayoutTag = 99;
  Boolean writable = 7;
  EXPECT_EQ(input.GetChannelLayoutTags(tags), 0u);
  EXPECT_EQ(input.GetAudioChannelLayout(&layout, writable), 0u);
  EXPECT_EQ(tags[0], 123u);
  EXPECT_EQ(layout.mChannelLayoutTag, 99u);
  EXPECT_EQ(writable, 7);
  EXPECT_EQ(input.SetAudioChannelLayout(layout), kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(input.RemoveAudioChannelLayout(), kAudioUnitErr_InvalidPropertyValue);
}

TEST(IOElement, ScopeHandsOutOnlyElementsThatCarryAudio) {
  MixedCreator creator;
  AUScope scope;
  scope.Initialize(&creator, kAudioUnitScope_Output, 2);

  EXPECT_EQ(ThrownStatus([&] { scope.GetIOElement(0); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(scope.GetIOElement(1), scope.GetElement(1));
  EXPECT_EQ(ThrownStatus([&] { scope.GetIOElement(2); }), kAudioUnitErr_InvalidElement);
}

// ---- memory follows the unit's state --------------------------------------------

TEST(IOElementMemory, LaidOutOnlyWhileTheUnitIsInitialized) {
  TestUnit unit;
  unit.PostConstructor();
  AUOutputElement* output = unit.GetOutput(0);
  AUInputElement* input = unit.GetInput(0);

  EXPECT_EQ(output->SetStreamFormat(Format(2)), noErr);
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedStreams(), 0u);

  ASSERT_EQ(unit.DoInitialize(), noErr);
  // Output: memory for the maximum slice; an input without a source: room
  // for its streams only.
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedFrames(), 1156u);
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedBytes(), 9248u);
  EXPECT_EQ(input->GetIOBuffer().GetAllocatedStreams(), 2u);
  EXPECT_EQ(input->GetIOBuffer().GetAllocatedBytes(), 0u);
  AudioBufferList& abl = output->PrepareBuffer(1156);
  EXPECT_EQ(abl.mBuffers[1].mDataByteSize, 4624u);

  // A new format while initialized gets its memory at once.
  EXPECT_EQ(output->SetStreamFormat(Format(6)), noErr);
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedBytes(), 6u * 4624u);
  EXPECT_EQ(input->SetStreamFormat(Format(6)), noErr);
  EXPECT_EQ(input->GetIOBuffer().GetAllocatedStreams(), 6u);
  EXPECT_EQ(input->GetIOBuffer().GetAllocatedBytes(), 0u);

  output->AllocateBuffer(2048);  // an explicit frame count wins over the maximum
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedFrames(), 2048u);

  // An output bus made while initialized lays out its memory straight away.
  AUOutputElement late(&unit);
  EXPECT_EQ(late.GetIOBuffer().GetAllocatedBytes(), 9248u);

  unit.DoCleanup();  // uninitializing keeps the memory
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedFrames(), 2048u);
  output->SetStreamFormat(Format(8));
  EXPECT_EQ(output->GetIOBuffer().GetAllocatedStreams(), 6u);
  unit.PreDestructor();
}
