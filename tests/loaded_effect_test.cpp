// A framework effect loaded from its bundle: the host calls reach it through
// the loader and the entry dispatcher, two loaded units connect to each other
// through the loader, and unloading takes the level listener's registration
// back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "effect/FilterConstants.h"
#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/LoaderTestSupport.h"
#include "support/PrivateBus.h"

using namespace loader_test;

namespace {

const fs::path kEffectObject = fs::path(QELVO_TEST_BUNDLE_DIR) / "QelvoLoaderEffect.bundle" / "QelvoLoaderEffect.so";
constexpr const char* kEffect = "QelvoLoaderEffect";
constexpr UInt32 kFrames = 512;

AudioStreamBasicDescription CanonicalFormat(UInt32 channels, Float64 rate) {
  return {rate, kAudioFormatLinearPCM,
          kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved,
          4, 1, 4, channels, 32, 0};
}

// The host's input signal: channel c, frame i.
Float32 Signal(UInt32 c, UInt32 i) { return 0.001f * Float32(i) - 0.25f * Float32(c); }

OSStatus FeedSignal(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                    AudioBufferList* list) {
  ++*static_cast<int*>(refCon);
  for (UInt32 c = 0; c < list->mNumberBuffers; ++c) {
    auto* samples = static_cast<Float32*>(list->mBuffers[c].mData);
    for (UInt32 i = 0; i < frames; ++i) samples[i] = Signal(c, i);
  }
  return noErr;
}

// Renders kFrames of unit's output into the unit's own buffers.
OSStatus RenderOwnBuffers(ComponentInstance unit, AudioBufferList* list, UInt32 channels, Float64 sampleTime) {
  list->mNumberBuffers = channels;
  for (UInt32 c = 0; c < channels; ++c) list->mBuffers[c] = {1, kFrames * 4, nullptr};
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp stamp{};
  stamp.mSampleTime = sampleTime;
  stamp.mFlags = kAudioTimeStampSampleTimeValid;
  return AudioUnitRender(unit, &flags, &stamp, 0, kFrames, list);
}

class LoadedEffect : public testing::Test {
 protected:
  void SetUp() override { UseSearchPath({QELVO_TEST_BUNDLE_DIR}); }
  void TearDown() override {
    UseSearchPath({});
    EXPECT_EQ(QelvoOpenInstanceCount(), 0u);
  }
};

TEST_F(LoadedEffect, HostCallsReachTheUnitThroughTheEntryDispatcher) {
  OpenInstance unit(kEffect);
  ASSERT_EQ(unit.status(), noErr) << QelvoComponentLoaderLastError();
  const ComponentInstance u = unit.get();

  AudioStreamBasicDescription format{};
  UInt32 size = sizeof format;
  ASSERT_EQ(AudioUnitGetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format, &size),
            noErr);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(format.mSampleRate, 44100.0);
  EXPECT_EQ(format.mChannelsPerFrame, 2u);

  const AudioStreamBasicDescription mono = CanonicalFormat(1, 48000.0);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
    ASSERT_EQ(AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, scope, 0, &mono, sizeof mono), noErr);
  size = sizeof format;
  ASSERT_EQ(AudioUnitGetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format, &size), noErr);
  EXPECT_EQ(format.mSampleRate, 48000.0);
  EXPECT_EQ(format.mChannelsPerFrame, 1u);

  UInt32 listSize = 0;
  Boolean writable = true;
  EXPECT_EQ(AudioUnitGetPropertyInfo(u, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, &listSize,
                                     &writable),
            noErr);
  EXPECT_EQ(listSize, 3 * sizeof(AudioUnitParameterID));
  EXPECT_FALSE(writable);

  Float32 value = 0;
  EXPECT_EQ(AudioUnitGetParameter(u, kParam_CutoffFrequency, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, kDefaultCutoff);
  EXPECT_EQ(AudioUnitSetParameter(u, kParam_Gain, kAudioUnitScope_Global, 0, 0.3f, 0), noErr);
  EXPECT_EQ(AudioUnitGetParameter(u, kParam_Gain, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 0.3f);
  EXPECT_EQ(AudioUnitGetParameter(u, kParam_Gain, 7, 0, &value), kAudioUnitErr_InvalidScope);

  EXPECT_EQ(AudioUnitInitialize(u), noErr);
  EXPECT_EQ(AudioUnitSetProperty(u, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format, 36),
            noErr);  // the same format is accepted while initialized
  EXPECT_EQ(ComponentFunctionImplemented(u, kAudioUnitScheduleParametersSelect), 1);
  EXPECT_EQ(ComponentFunctionImplemented(u, 12), 0);
  ComponentParameters unknown{};
  unknown.what = 12;
  EXPECT_EQ(QelvoCallComponentEntry(u, &unknown), badComponentSelector);
  EXPECT_EQ(AudioUnitUninitialize(u), noErr);
}

TEST_F(LoadedEffect, AConnectedUnitIsPulledThroughTheLoader) {
  OpenInstance source(kEffect), sink(kEffect);
  ASSERT_EQ(source.status(), noErr);
  ASSERT_EQ(sink.status(), noErr);

  // Both pass their input through, so the sink's output is the host's signal.
  const UInt32 bypass = 1;
  for (ComponentInstance u : {source.get(), sink.get()})
    ASSERT_EQ(AudioUnitSetProperty(u, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass,
                                   sizeof bypass),
              noErr);
  int pulls = 0;
  const AURenderCallbackStruct feed{&FeedSignal, &pulls};
  ASSERT_EQ(AudioUnitSetProperty(source.get(), kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &feed,
                                 sizeof feed),
            noErr);
  // Connecting reads the source's output format through the loader.
  const AudioStreamBasicDescription mono = CanonicalFormat(1, 22050.0);
  ASSERT_EQ(AudioUnitSetProperty(source.get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &mono,
                                 sizeof mono),
            noErr);
  const AudioUnitConnection connection{source.get(), 0, 0};
  ASSERT_EQ(AudioUnitSetProperty(sink.get(), kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                 &connection, sizeof connection),
            noErr);
  AudioStreamBasicDescription adopted{};
  UInt32 size = sizeof adopted;
  ASSERT_EQ(AudioUnitGetProperty(sink.get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &adopted,
                                 &size),
            noErr);
  EXPECT_EQ(adopted.mSampleRate, 22050.0);
  EXPECT_EQ(adopted.mChannelsPerFrame, 1u);
  ASSERT_EQ(AudioUnitSetProperty(source.get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &mono,
                                 sizeof mono),
            noErr);
  ASSERT_EQ(AudioUnitSetProperty(sink.get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &mono,
                                 sizeof mono),
            noErr);
  ASSERT_EQ(AudioUnitInitialize(source.get()), noErr);
  ASSERT_EQ(AudioUnitInitialize(sink.get()), noErr);

  alignas(AudioBufferList) Byte storage[AudioBufferListSize(1)] = {};
  auto* list = reinterpret_cast<AudioBufferList*>(storage);
  for (int call = 0; call < 2; ++call) {
    ASSERT_EQ(RenderOwnBuffers(sink.get(), list, 1, call * kFrames), noErr);
    const auto* samples = static_cast<const Float32*>(list->mBuffers[0].mData);
    ASSERT_NE(samples, nullptr);
    std::vector<Float32> expected(kFrames), got(samples, samples + kFrames);
    for (UInt32 i = 0; i < kFrames; ++i) expected[i] = Signal(0, i);
    EXPECT_EQ(got, expected) << "render " << call;
  }
  EXPECT_EQ(pulls, 2);

  // Disconnected, the sink has no input to pull.
  const AudioUnitConnection none{nullptr, 0, 0};
  ASSERT_EQ(AudioUnitSetProperty(sink.get(), kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, &none,
                                 sizeof none),
            noErr);
  EXPECT_EQ(RenderOwnBuffers(sink.get(), list, 1, 2 * kFrames), kAudioUnitErr_NoConnection);
}

TEST_F(LoadedEffect, ASourceClosedWhileConnectedFailsTheRenderInsteadOfCrashing) {
  OpenInstance source(kEffect), sink(kEffect);
  ASSERT_EQ(source.status(), noErr);
  ASSERT_EQ(sink.status(), noErr);
  int pulls = 0;
  const AURenderCallbackStruct feed{&FeedSignal, &pulls};
  ASSERT_EQ(AudioUnitSetProperty(source.get(), kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &feed,
                                 sizeof feed),
            noErr);
  const AudioUnitConnection connection{source.get(), 0, 0};
  ASSERT_EQ(AudioUnitSetProperty(sink.get(), kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                 &connection, sizeof connection),
            noErr);
  ASSERT_EQ(AudioUnitInitialize(source.get()), noErr);
  ASSERT_EQ(AudioUnitInitialize(sink.get()), noErr);

  alignas(AudioBufferList) Byte storage[AudioBufferListSize(2)] = {};
  auto* list = reinterpret_cast<AudioBufferList*>(storage);
  ASSERT_EQ(RenderOwnBuffers(sink.get(), list, 2, 0), noErr);
  ASSERT_EQ(pulls, 1);

  // The sink still holds the source's direct entry and object; both are gone.
  ASSERT_EQ(source.Close(), noErr);
  EXPECT_EQ(RenderOwnBuffers(sink.get(), list, 2, kFrames), badComponentInstance);
  EXPECT_EQ(pulls, 1);
}

TEST_F(LoadedEffect, ConnectingToAClosedUnitFailsWithoutTouchingTheInput) {
  OpenInstance sink(kEffect);
  ASSERT_EQ(sink.status(), noErr);
  ComponentInstance gone = nullptr;
  ASSERT_EQ(QelvoOpenComponent(kEffect, &gone), noErr);
  ASSERT_EQ(CloseComponent(gone), noErr);
  const AudioUnitConnection connection{gone, 0, 0};
  EXPECT_EQ(AudioUnitSetProperty(sink.get(), kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0,
                                 &connection, sizeof connection),
            badComponentInstance);
}

TEST(LoadedEffectBundle, ExportsOnlyItsEntryThoughItLinksTheFramework) {
  void* self = dlopen(kEffectObject.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(self, nullptr) << dlerror();
  EXPECT_NE(dlsym(self, "FilterEntry"), nullptr);
  for (const char* hidden : {"AddKestNotificationObserverX", "myCallback", "kPresetDefaultOffset", "gainX"})
    EXPECT_EQ(dlsym(self, hidden), nullptr) << hidden;
  dlclose(self);
  EXPECT_FALSE(ObjectLoaded(kEffectObject));
}

std::atomic<int> gLevelsSeen{0};
void CountLevel(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++gLevelsSeen; }

TEST_F(LoadedEffect, UnloadingTakesTheLevelListenerBack) {
  PrivateBus bus;
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  const CFRef<CFStringRef> name =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "Kest Level Changed Notification", kCFStringEncodingUTF8));
  {
    // Each open registers the listener once more; none is taken back at close.
    OpenInstance first(kEffect), second(kEffect);
    ASSERT_EQ(first.status(), noErr);
    ASSERT_EQ(second.status(), noErr);
  }
  ASSERT_FALSE(ObjectLoaded(kEffectObject));

  // Registered after the unit's listener: once this one has seen the level,
  // a listener left behind in the unloaded object would have been called.
  CFNotificationCenterAddObserver(center, &gLevelsSeen, CountLevel, name.get(), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  CFNotificationCenterPostNotification(center, name.get(), nullptr, nullptr, true);
  for (int i = 0; i < 500 && gLevelsSeen == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(gLevelsSeen, 1);
  CFNotificationCenterRemoveEveryObserver(center, &gLevelsSeen);
}

}  // namespace
