// The ten deliverable bundles, used the way a host uses them: found and
// opened through the component loader, driven only through host calls, fed by
// a render callback and steered by level notifications from another process.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "effect/FilterConstants.h"
#include "effect/UnitIdentity.h"
#include "framework/AUFastDispatch.h"
#include "platform/AudioUnitHost.h"
#include "platform/CFRef.h"
#include "platform/ComponentLoader.h"
#include "platform/Notifications.h"
#include "support/PrivateBus.h"

extern char** environ;

namespace {

constexpr UInt32 FourCC(const char (&code)[5]) {
  return (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) | (UInt32(UInt8(code[2])) << 8) |
         UInt32(UInt8(code[3]));
}

struct Deliverable {
  const char* name;
  UInt32 subtype;
  AudioUnitPropertyID curveProperty;
  bool peak;
  SInt32 variant;
};

const Deliverable kDeliverables[] = {
    {"AUQelvoBS1", FourCC("Qbs1"), 67802, false, 0},      {"AUQelvoBS2", FourCC("Qbs2"), 67803, false, 1},
    {"AUQelvoBS3", FourCC("Qbs3"), 67804, false, 2},      {"AUQelvoBS4", FourCC("Qbs4"), 67805, false, 3},
    {"AUQelvoBS5", FourCC("Qbs5"), 67806, false, 4},      {"AUQelvoBS6", FourCC("Qbs6"), 67807, false, 5},
    {"AUQelvoBS7", FourCC("Qbs7"), 67808, false, 6},      {"AUQelvoBS8", FourCC("Qbs8"), 67809, false, 7},
    {"AUQelvoPeakLeft", FourCC("QpkL"), 67800, true, 10}, {"AUQelvoPeakRight", FourCC("QpkR"), 67801, true, 11},
};

void PrintTo(const Deliverable& d, std::ostream* os) { *os << d.name; }

const char* const kBandPresetNames[] = {
    "LCH Count-Gain", "LCH Count-Filter",     "LCH F-Gain",             "LCH F-Filter",
    "RCH Count-Gain", "RCH Count-Filter",     "RCH F-Gain",             "RCH F-Filter",
    "Coherence Count-Gain", "Coherence Count-Filter", "Coherence F-Gain", "Coherence F-Filter"};
const char* const kPeakPresetNames[] = {"Peak V-Gain", "Peak V-Filter", "Peak F-Gain", "Peak F-Filter"};

constexpr Float64 kRate = 44100.0;
constexpr UInt32 kChannels = 2;
constexpr UInt32 kFrames = 512;

// ---- environment: a private bus, the build tree's bundles, delivery marker -------

std::atomic<int> sDone{0};
void DoneCallback(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sDone; }

class DeliverablesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    mBus = std::make_unique<PrivateBus>();
    setenv(kQelvoPluginPathVariable, QELVO_DELIVERABLES_DIR, 1);
    QelvoRescanComponents();
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), &sDone, DoneCallback,
                                    CFSTR("Level Test Done"), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
  }
  void TearDown() override {
    QelvoNotificationCenterRemoveCallback(CFNotificationCenterGetDistributedCenter(), DoneCallback);
    mBus.reset();
  }

 private:
  std::unique_ptr<PrivateBus> mBus;
};
::testing::Environment* const sEnvironment = ::testing::AddGlobalTestEnvironment(new DeliverablesEnvironment);

// The analyser's side: another process posts one level notification; it
// posts "Level Test Done" after it, so once that arrives here the level has
// reached every listener of this process.
void PostLevel(const char* symbol, double level) {
  // The centre connects and installs its observations in the background: a
  // level posted before the bus confirmed them would pass this process by.
  std::string problem;
  ASSERT_EQ(QelvoNotificationCenterWaitUntilConnected(CFNotificationCenterGetDistributedCenter(), 20, &problem), 0)
      << problem;
  const int before = sDone.load();
  const std::string peer = QELVO_LEVEL_PEER;
  const std::string symbolArg = std::string("Kest Symbol=s:") + symbol;
  const std::string levelArg = "New Level=d:" + std::to_string(level);
  const char* argv[] = {peer.c_str(), "post", "Kest Level Changed Notification", "",
                        symbolArg.c_str(), levelArg.c_str(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "poster failed";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sDone.load() == before) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << "level notification not delivered";
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// ---- an open instance ----------------------------------------------------------------

class Instance {
 public:
  explicit Instance(const char* name) { mStatus = QelvoOpenComponent(name, &mInstance); }
  ~Instance() {
    if (mInstance != nullptr) CloseComponent(mInstance);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  OSStatus OpenStatus() const { return mStatus; }
  AudioUnit get() const { return mInstance; }
  operator AudioUnit() const { return mInstance; }  // NOLINT: reads like the handle

 private:
  AudioUnit mInstance = nullptr;
  OSStatus mStatus = noErr;
};

AudioStreamBasicDescription StereoFloat(Float64 rate = kRate) {
  AudioStreamBasicDescription f{};
  f.mSampleRate = rate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  f.mBytesPerPacket = 4;
  f.mFramesPerPacket = 1;
  f.mBytesPerFrame = 4;
  f.mChannelsPerFrame = kChannels;
  f.mBitsPerChannel = 32;
  return f;
}

template <class T>
OSStatus Get(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, T& value) {
  UInt32 size = sizeof value;
  const OSStatus status = AudioUnitGetProperty(unit, id, scope, element, &value, &size);
  if (status == noErr) {
    EXPECT_EQ(size, sizeof value) << "property " << id;
  }
  return status;
}

template <class T>
OSStatus Set(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
             const T& value) {
  return AudioUnitSetProperty(unit, id, scope, element, &value, sizeof value);
}

OSStatus ChoosePreset(AudioUnit unit, SInt32 number) {
  return Set(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, AUPreset{number, CFSTR("any")});
}

std::string Text(CFStringRef s) {
  const char* text = s != nullptr ? CFStringGetCStringPtr(s, kCFStringEncodingUTF8) : nullptr;
  return text != nullptr ? text : "<none>";
}

// ---- the host's input: a render callback with a known signal ------------------------

float InputSample(UInt32 channel, UInt64 frame) {
  return static_cast<float>(0.6 * std::sin(0.031 * static_cast<double>(frame) + 1.3 * channel) +
                            0.3 * std::sin(0.7 * static_cast<double>(frame)));
}

OSStatus FeedInput(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp* timeStamp, UInt32, UInt32 frames,
                   AudioBufferList* list) {
  const auto start = static_cast<UInt64>(timeStamp->mSampleTime);
  for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
    auto* data = static_cast<float*>(list->mBuffers[b].mData);
    for (UInt32 i = 0; i < frames; ++i) data[i] = InputSample(b, start + i);
  }
  return noErr;
}

// Stereo at 44100 Hz with the callback as input, initialized.
void PrepareForRendering(AudioUnit unit) {
  const AudioStreamBasicDescription format = StereoFloat();
  ASSERT_EQ(Set(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, format), noErr);
  ASSERT_EQ(Set(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, format), noErr);
  const AURenderCallbackStruct callback{&FeedInput, nullptr};
  ASSERT_EQ(Set(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback), noErr);
  ASSERT_EQ(AudioUnitInitialize(unit), noErr);
}

using Channels = std::vector<std::vector<float>>;

// One render call of kFrames starting at sampleTime; the samples per channel.
Channels Render(AudioUnit unit, UInt64 sampleTime) {
  Channels out(kChannels, std::vector<float>(kFrames, 0.0f));
  std::vector<std::byte> storage(AudioBufferListSize(kChannels));
  auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
  list->mNumberBuffers = kChannels;
  for (UInt32 c = 0; c < kChannels; ++c)
    list->mBuffers[c] = AudioBuffer{1, kFrames * 4, out[c].data()};
  AudioTimeStamp timeStamp{};
  timeStamp.mSampleTime = static_cast<Float64>(sampleTime);
  timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(AudioUnitRender(unit, &flags, &timeStamp, 0, kFrames, list), noErr);
  // The unit may hand back its own buffers instead of filling ours.
  Channels result(kChannels);
  for (UInt32 c = 0; c < kChannels; ++c) {
    const auto* data = static_cast<const float*>(list->mBuffers[c].mData);
    result[c].assign(data, data + kFrames);
  }
  return result;
}

// The input scaled in 32-bit arithmetic, as gain mode does: (x * gain) * factor.
Channels Scaled(UInt64 sampleTime, float gain, float factor) {
  Channels expected(kChannels, std::vector<float>(kFrames));
  for (UInt32 c = 0; c < kChannels; ++c)
    for (UInt32 i = 0; i < kFrames; ++i) expected[c][i] = (InputSample(c, sampleTime + i) * gain) * factor;
  return expected;
}

// An independent two-pole resonant low-pass: coefficients from the normalised
// cutoff and the resonance, one step per sample, outputs kept at 32 bits.
class ReferenceLowpass {
 public:
  ReferenceLowpass(double cutoffHz, double resonanceDb, double sampleRate) {
    const double rate = static_cast<float>(sampleRate);
    double normalised = (cutoffHz + cutoffHz) / rate;
    if (normalised > 0.99) normalised = 0.99;
    const double pi = 3.14159265358979323846;
    const double r = std::pow(10.0, -0.05 * resonanceDb);
    const double k = (r * 0.5) * std::sin(pi * normalised);
    const double c1 = ((1.0 - k) * 0.5) / (1.0 + k);
    const double c2 = (c1 + 0.5) * std::cos(pi * normalised);
    const double c3 = 0.25 * ((0.5 + c1) - c2);
    mA0 = 2.0 * c3;
    mA1 = 4.0 * c3;
    mA2 = 2.0 * c3;
    mB1 = -2.0 * c2;
    mB2 = 2.0 * c1;
  }

  float Step(float input) {
    const double x = input;
    const float y = static_cast<float>(mA0 * x + mA1 * mX1 + mA2 * mX2 - mB1 * mY1 - mB2 * mY2);
    mX2 = mX1;
    mX1 = x;
    mY2 = mY1;
    mY1 = y;
    return y;
  }

 private:
  double mA0, mA1, mA2, mB1, mB2;
  double mX1 = 0.0, mX2 = 0.0, mY1 = 0.0, mY2 = 0.0;
};

// Sample for sample, with the position of the first difference.
void ExpectSameSamples(const Channels& actual, const Channels& expected, const char* what) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t c = 0; c < actual.size(); ++c)
    for (size_t i = 0; i < actual[c].size(); ++i)
      ASSERT_EQ(actual[c][i], expected[c][i]) << what << ": channel " << c << " frame " << i;
}

bool SameSamples(const Channels& a, const Channels& b) { return a == b; }

// ---- every deliverable ----------------------------------------------------------------

class EachDeliverable : public ::testing::TestWithParam<Deliverable> {};

TEST_P(EachDeliverable, OpensUnderItsOwnDescription) {
  const Deliverable& d = GetParam();
  Component component = QelvoFindComponent(d.name);
  ASSERT_NE(component, nullptr) << d.name << " not found in " << QELVO_DELIVERABLES_DIR;
  ComponentDescription desc{};
  ASSERT_EQ(QelvoGetComponentDescription(component, &desc), noErr);
  EXPECT_EQ(desc.componentType, FourCC("aufx"));
  EXPECT_EQ(desc.componentSubType, d.subtype);
  EXPECT_EQ(desc.componentManufacturer, FourCC("Qlvo"));

  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  EXPECT_EQ(GetComponentVersion(unit), 0x00010000);
}

TEST_P(EachDeliverable, ListsItsFactoryPresets) {
  const Deliverable& d = GetParam();
  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  CFArrayRef presets = nullptr;
  ASSERT_EQ(Get(unit, kAudioUnitProperty_FactoryPresets, kAudioUnitScope_Global, 0, presets), noErr);
  auto owned = CFRef<CFArrayRef>::Adopt(presets);
  const CFIndex count = d.peak ? 4 : 12;
  ASSERT_EQ(CFArrayGetCount(presets), count);
  for (CFIndex i = 0; i < count; ++i) {
    const auto* preset = static_cast<const AUPreset*>(CFArrayGetValueAtIndex(presets, i));
    EXPECT_EQ(preset->presetNumber, i);
    EXPECT_EQ(Text(preset->presetName), d.peak ? kPeakPresetNames[i] : kBandPresetNames[i]);
  }
  // Choosing one makes it current under the table's name; past the table, nothing.
  ASSERT_EQ(ChoosePreset(unit, 2), noErr);
  AUPreset current{};
  ASSERT_EQ(Get(unit, kAudioUnitProperty_CurrentPreset, kAudioUnitScope_Global, 0, current), noErr);
  EXPECT_EQ(current.presetNumber, 2);
  EXPECT_EQ(Text(current.presetName), d.peak ? "Peak F-Gain" : "LCH F-Gain");
  EXPECT_EQ(ChoosePreset(unit, static_cast<SInt32>(count)), kAudioUnitErr_InvalidPropertyValue);
}

TEST_P(EachDeliverable, DescribesItsThreeParameters) {
  const Deliverable& d = GetParam();
  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  ASSERT_EQ(Set(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, StereoFloat(48000.0)), noErr);

  UInt32 size = 0;
  ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, &size,
                                     nullptr),
            noErr);
  ASSERT_EQ(size, 3 * sizeof(AudioUnitParameterID));
  AudioUnitParameterID ids[3] = {};
  ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids, &size),
            noErr);
  EXPECT_EQ(ids[0], 0u);
  EXPECT_EQ(ids[1], 1u);
  EXPECT_EQ(ids[2], 2u);

  const struct {
    const char* name;
    UInt32 unit;
    Float32 min, max, defaultValue;
    UInt32 flags;
  } expected[] = {
      {"cutoff frequency", kAudioUnitParameterUnit_Hertz, 12.0f, 24000.0f, 1000.0f, 0xC8C00000u},
      {"resonance", kAudioUnitParameterUnit_Decibels, -20.0f, 20.0f, 0.0f, 0xC8800000u},
      {"Gain", kAudioUnitParameterUnit_LinearGain, 0.0f, 1.0f, 1.0f, 0xC8000000u},
  };
  ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 0, &size,
                                     nullptr),
            noErr);
  EXPECT_EQ(size, 104u);
  for (AudioUnitParameterID id = 0; id < 3; ++id) {
    AudioUnitParameterInfo info{};
    ASSERT_EQ(Get(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, info), noErr);
    EXPECT_STREQ(info.name, expected[id].name);
    EXPECT_EQ(Text(info.cfNameString), expected[id].name);
    EXPECT_EQ(info.unit, expected[id].unit);
    EXPECT_EQ(info.minValue, expected[id].min);
    EXPECT_EQ(info.maxValue, expected[id].max);
    EXPECT_EQ(info.defaultValue, expected[id].defaultValue);
    EXPECT_EQ(info.flags, expected[id].flags);
  }
  AudioUnitParameterInfo info{};
  EXPECT_EQ(Get(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 3, info),
            kAudioUnitErr_InvalidParameter);
}

TEST_P(EachDeliverable, AnswersItsOwnCurvePropertyOnly) {
  const Deliverable& d = GetParam();
  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  ASSERT_EQ(AudioUnitInitialize(unit), noErr);

  std::vector<FrequencyResponsePoint> points(512, FrequencyResponsePoint{1000.0, 0.0});
  points[1].frequency = 0.0;
  UInt32 size = 0;
  Boolean writable = true;
  ASSERT_EQ(AudioUnitGetPropertyInfo(unit, d.curveProperty, kAudioUnitScope_Global, 0, &size, &writable), noErr);
  EXPECT_EQ(size, 8192u);
  EXPECT_FALSE(writable);
  size = 8192;
  ASSERT_EQ(AudioUnitGetProperty(unit, d.curveProperty, kAudioUnitScope_Global, 0, points.data(), &size), noErr);
  EXPECT_EQ(size, 8192u);
  EXPECT_NEAR(points[0].magnitude, 1.0, 1e-12);  // the default cutoff, no resonance
  EXPECT_NEAR(points[1].magnitude, 1.0, 1e-12);
  EXPECT_NEAR(points[511].magnitude, 1.0, 1e-12);

  for (const Deliverable& other : kDeliverables) {
    if (other.curveProperty == d.curveProperty) continue;
    EXPECT_EQ(AudioUnitGetPropertyInfo(unit, other.curveProperty, kAudioUnitScope_Global, 0, &size, nullptr),
              kAudioUnitErr_InvalidProperty)
        << d.name << " asked for " << other.curveProperty;
    size = 8192;
    EXPECT_EQ(AudioUnitGetProperty(unit, other.curveProperty, kAudioUnitScope_Global, 0, points.data(), &size),
              kAudioUnitErr_InvalidProperty);
  }
}

TEST_P(EachDeliverable, TellsWhereItsEditorViewLives) {
  const Deliverable& d = GetParam();
  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  AudioUnitEditorViewInfo view{};
  ASSERT_EQ(Get(unit, kAudioUnitProperty_EditorView, kAudioUnitScope_Global, 0, view), noErr);
  auto location = CFRef<CFURLRef>::Adopt(view.mViewBundleLocation);
  ASSERT_TRUE(location);
  auto path = CFRef<CFStringRef>::Adopt(CFURLCopyFileSystemPath(location.get(), kCFURLPOSIXPathStyle));
  const std::filesystem::path viewPath(Text(path.get()));
  EXPECT_EQ(viewPath.filename(), "EditorViewFactory.bundle");
  EXPECT_EQ(viewPath.parent_path().filename(), "Resources");
  EXPECT_EQ(viewPath.parent_path().parent_path().filename(), std::string(d.name) + ".bundle");
  EXPECT_EQ(Text(view.mViewClass[0]), std::string(d.name) + "_ViewFactory");
}

// Hosts learn which deliverable they opened from the unit itself.
TEST_P(EachDeliverable, SaysWhichDeliverableItIs) {
  const Deliverable& d = GetParam();
  Instance unit(d.name);
  ASSERT_EQ(unit.OpenStatus(), noErr);
  UInt32 size = 0;
  Boolean writable = true;
  ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kUnitIdentityPropertyID, kAudioUnitScope_Global, 0, &size, &writable),
            noErr);
  EXPECT_EQ(size, sizeof(UnitIdentity));
  EXPECT_FALSE(writable);
  UnitIdentity identity{-1, 0};
  ASSERT_EQ(Get(unit, kUnitIdentityPropertyID, kAudioUnitScope_Global, 0, identity), noErr);
  EXPECT_EQ(identity.mVariantIndex, d.variant);
  EXPECT_EQ(identity.mFrequencyResponsePropertyID, d.curveProperty);
  EXPECT_EQ(AudioUnitSetProperty(unit, kUnitIdentityPropertyID, kAudioUnitScope_Global, 0, &identity, sizeof identity),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(Get(unit, kUnitIdentityPropertyID, kAudioUnitScope_Input, 0, identity), kAudioUnitErr_InvalidProperty);
}

INSTANTIATE_TEST_SUITE_P(All, EachDeliverable, ::testing::ValuesIn(kDeliverables),
                         [](const ::testing::TestParamInfo<Deliverable>& info) { return info.param.name; });

// ---- a level reaching the sound ------------------------------------------------------------

TEST(LevelToSound, FilterModeFollowsTheCutoffFactor) {
  Instance unit("AUQelvoBS7");
  ASSERT_EQ(unit.OpenStatus(), noErr);
  ASSERT_NO_FATAL_FAILURE(PrepareForRendering(unit));
  ASSERT_EQ(ChoosePreset(unit, 1), noErr);  // "LCH Count-Filter": BS7V0 drives the cutoff
  ASSERT_NO_FATAL_FAILURE(PostLevel("BS7V0", 10.0));

  // Level 10 scaled by 0.3 is 3.0: the cutoff factor is 0.5, so the default
  // 1000 Hz cutoff becomes 1000 x (0.5 + 0.1).
  ReferenceLowpass left(1000.0 * (0.5 + 0.1), 0.0, kRate), right(1000.0 * (0.5 + 0.1), 0.0, kRate);
  for (UInt64 start = 0; start < 3 * kFrames; start += kFrames) {
    Channels expected(kChannels, std::vector<float>(kFrames));
    for (UInt32 i = 0; i < kFrames; ++i) {
      expected[0][i] = left.Step(InputSample(0, start + i));
      expected[1][i] = right.Step(InputSample(1, start + i));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameSamples(Render(unit, start), expected, "filter mode"));
  }
}

TEST(LevelToSound, GainModeScalesByTheGainFactor) {
  Instance unit("AUQelvoBS7");
  ASSERT_EQ(unit.OpenStatus(), noErr);
  ASSERT_NO_FATAL_FAILURE(PrepareForRendering(unit));
  ASSERT_EQ(ChoosePreset(unit, 0), noErr);  // "LCH Count-Gain"
  ExpectSameSamples(Render(unit, 0), Scaled(0, 1.0f, 1.0f), "before any level");
  ASSERT_NO_FATAL_FAILURE(PostLevel("BS7V0", 10.0));
  ExpectSameSamples(Render(unit, kFrames), Scaled(kFrames, 1.0f, 0.3f), "level 10");
  // Another measure of the band changes nothing for this preset.
  ASSERT_NO_FATAL_FAILURE(PostLevel("BS7F0", 40.0));
  ExpectSameSamples(Render(unit, 2 * kFrames), Scaled(2 * kFrames, 1.0f, 0.3f), "other measure");
}

TEST(LevelToSound, DeliverablesKeepTheirOwnState) {
  Instance band7("AUQelvoBS7");
  Instance band6("AUQelvoBS6");
  ASSERT_EQ(band7.OpenStatus(), noErr);
  ASSERT_EQ(band6.OpenStatus(), noErr);
  ASSERT_NO_FATAL_FAILURE(PrepareForRendering(band7));
  ASSERT_NO_FATAL_FAILURE(PrepareForRendering(band6));
  ASSERT_EQ(ChoosePreset(band7, 0), noErr);
  ASSERT_EQ(ChoosePreset(band6, 1), noErr);  // would put band 7 into filter mode if shared
  ASSERT_NO_FATAL_FAILURE(PostLevel("BS7V0", 10.0));

  ExpectSameSamples(Render(band7, 0), Scaled(0, 1.0f, 0.3f), "band 7 in gain mode");
  // Band 6 filters, with its cutoff factor untouched by band 7's level.
  ReferenceLowpass left(1000.0 * (1.0 + 0.1), 0.0, kRate), right(1000.0 * (1.0 + 0.1), 0.0, kRate);
  Channels expected(kChannels, std::vector<float>(kFrames));
  for (UInt32 i = 0; i < kFrames; ++i) {
    expected[0][i] = left.Step(InputSample(0, i));
    expected[1][i] = right.Step(InputSample(1, i));
  }
  ExpectSameSamples(Render(band6, 0), expected, "band 6 in filter mode");
}

TEST(LevelToSound, InstancesOfOneDeliverableShareTheirState) {
  Instance first("AUQelvoBS7");
  ASSERT_EQ(first.OpenStatus(), noErr);
  ASSERT_NO_FATAL_FAILURE(PrepareForRendering(first));
  ASSERT_EQ(ChoosePreset(first, 0), noErr);
  ASSERT_NO_FATAL_FAILURE(PostLevel("BS7V0", 10.0));
  ExpectSameSamples(Render(first, 0), Scaled(0, 1.0f, 0.3f), "first alone");

  // Opening a second resets both factors for the first too, but keeps the mode.
  Instance second("AUQelvoBS7");
  ASSERT_EQ(second.OpenStatus(), noErr);
  ExpectSameSamples(Render(first, kFrames), Scaled(kFrames, 1.0f, 1.0f), "after the second opened");

  // A preset chosen on the second switches the first to filter mode.
  ASSERT_EQ(ChoosePreset(second, 1), noErr);
  const Channels filtered = Render(first, 2 * kFrames);
  EXPECT_FALSE(SameSamples(filtered, Scaled(2 * kFrames, 1.0f, 1.0f)));
}

// ---- failures as a host sees them ------------------------------------------------------

TEST(HostCalls, FailuresComeBackAsStatuses) {
  Instance unit("AUQelvoBS7");
  ASSERT_EQ(unit.OpenStatus(), noErr);

  // A scope lookup that throws, through the fast parameter path.
  AudioUnitGetParameterProc getParameter = nullptr;
  ASSERT_EQ(Get(unit, kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global, kAudioUnitGetParameterSelect,
                getParameter),
            noErr);
  ASSERT_NE(getParameter, nullptr);
  void* storage = GetComponentInstanceStorage(unit);
  ASSERT_NE(storage, nullptr);
  AudioUnitParameterValue value = -1.0f;
  EXPECT_EQ(getParameter(storage, kParam_CutoffFrequency, 7, 0, &value), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(getParameter(storage, kParam_CutoffFrequency, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 1000.0f);

  // A selector nobody serves.
  ComponentParameters block{};
  block.what = 12;
  EXPECT_EQ(QelvoCallComponentEntry(unit, &block), badComponentSelector);

  const struct {
    SInt16 selector;
    ComponentResult answer;
  } canDo[] = {{1, 1}, {4, 1}, {14, 1}, {17, 1}, {18, 1}, {8, 0}, {12, 0}, {13, 0}, {19, 0}, {-2, 1}, {-4, 1}};
  for (const auto& c : canDo)
    EXPECT_EQ(ComponentFunctionImplemented(unit, c.selector), c.answer) << "selector " << c.selector;

  // A short buffer gets the first bytes of the value.
  const AudioStreamBasicDescription format = StereoFloat();
  ASSERT_EQ(Set(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, format), noErr);
  unsigned char bytes[8];
  std::memset(bytes, 0xEE, sizeof bytes);
  UInt32 size = 4;
  ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, bytes, &size),
            noErr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(bytes, &format, 4), 0);
  EXPECT_EQ(bytes[4], 0xEE);
}

// ---- saved state ------------------------------------------------------------------------

void SetParameters(AudioUnit unit, Float32 cutoff, Float32 resonance, Float32 gain) {
  ASSERT_EQ(AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, cutoff, 0), noErr);
  ASSERT_EQ(AudioUnitSetParameter(unit, 1, kAudioUnitScope_Global, 0, resonance, 0), noErr);
  ASSERT_EQ(AudioUnitSetParameter(unit, 2, kAudioUnitScope_Global, 0, gain, 0), noErr);
}

std::vector<Float32> Parameters(AudioUnit unit) {
  std::vector<Float32> values(3);
  for (AudioUnitParameterID id = 0; id < 3; ++id)
    EXPECT_EQ(AudioUnitGetParameter(unit, id, kAudioUnitScope_Global, 0, &values[id]), noErr);
  return values;
}

TEST(SavedState, RestoresIntoTheSameDeliverableOnly) {
  Instance source("AUQelvoBS7");
  Instance sameKind("AUQelvoBS7");
  Instance otherKind("AUQelvoPeakRight");
  ASSERT_EQ(source.OpenStatus(), noErr);
  ASSERT_EQ(sameKind.OpenStatus(), noErr);
  ASSERT_EQ(otherKind.OpenStatus(), noErr);
  ASSERT_NO_FATAL_FAILURE(SetParameters(source, 2500.0f, 6.5f, 0.25f));

  CFPropertyListRef state = nullptr;
  ASSERT_EQ(Get(source, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, state), noErr);
  auto owned = CFRef<CFPropertyListRef>::Adopt(state);

  EXPECT_EQ(Set(sameKind, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, state), noErr);
  EXPECT_EQ(Parameters(sameKind), (std::vector<Float32>{2500.0f, 6.5f, 0.25f}));

  const std::vector<Float32> before = Parameters(otherKind);
  EXPECT_NE(Set(otherKind, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, state), noErr);
  EXPECT_EQ(Parameters(otherKind), before);
}

}  // namespace
