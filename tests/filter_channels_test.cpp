// The filter unit renders its channels side by side; every sample must be bit
// for bit what one kernel per channel makes of the same input, slice by
// slice: across channel counts and slice lengths, cutoff and resonance moves,
// mode switches, a NaN burst in one channel (whose history alone is cleared),
// and buffers laid out so that one pass would read another channel's output.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "effect/Filter.h"
#include "effect/FilterChannels.h"
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/ModulationState.h"
#include "support/PrivateBusEnvironment.h"
#include "support/TestUnit.h"
#include "utility/CAFloatingPointMode.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

constexpr Float64 kRate = 48000.0;
constexpr size_t kFrames = 2400;
constexpr size_t kBurstChannel = 1;

// The unit's parameters as the reference kernels see them.
class ReferenceOwner final : public AUKernelOwner {
 public:
  float params[3] = {kDefaultCutoff, kDefaultResonance, kDefaultValue_Gain};
  Float64 GetSampleRate() override { return kRate; }
  AudioUnitParameterValue GetParameter(AudioUnitParameterID id) override { return params[id]; }
};

// What changes before a slice: parameters and modulation, both sides alike.
struct SliceSettings {
  float cutoff, resonance, gain;
  int32_t mode;
  double cutoffFactor;
  float gainFactor;
};

SliceSettings SettingsFor(size_t slice, std::mt19937& random) {
  std::uniform_real_distribution<float> cutoff(20.0f, 30000.0f), resonance(-25.0f, 25.0f);
  SliceSettings s{1000.0f, 6.0f, 1.0f, 1, 1.0, 1.0f};
  switch (slice % 8) {
    case 0: break;  // back to a fixed design
    case 1: s.cutoff = cutoff(random); break;
    case 2: s.cutoff = cutoff(random), s.resonance = resonance(random); break;
    case 3: s.cutoffFactor = 0.0; break;  // the 12 Hz floor
    case 4: s.mode = 0, s.gainFactor = 1.75f, s.gain = 0.6f; break;
    case 5: s.mode = 0, s.gain = 0.004f; break;  // too low: this very slice switches to filter mode
    case 6: s.resonance = 20.0f, s.cutoffFactor = 9.0; break;
    default: s.mode = 0, s.gainFactor = -0.5f; break;
  }
  return s;
}

std::vector<std::vector<float>> Input(size_t channels, bool burst) {
  std::mt19937 random(static_cast<uint32_t>(channels));
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<std::vector<float>> in(channels, std::vector<float>(kFrames));
  for (auto& channel : in)
    for (float& s : channel) s = noise(random);
  if (burst && channels > kBurstChannel)
    for (size_t i = 700; i < 760; ++i) in[kBurstChannel][i] = std::numeric_limits<float>::quiet_NaN();
  return in;
}

// One kernel per channel, slice by slice, as the effect base would call them.
std::vector<std::vector<float>> Reference(const std::vector<std::vector<float>>& in, size_t block) {
  ReferenceOwner owner;
  std::vector<std::unique_ptr<FilterKernel>> kernels;
  for (size_t c = 0; c < in.size(); ++c) kernels.push_back(std::make_unique<FilterKernel>(owner));
  std::vector<std::vector<float>> out(in.size(), std::vector<float>(kFrames));
  std::mt19937 random(11);
  CADenormalsAreZeroScope renderMode;
  for (size_t at = 0, slice = 0; at < kFrames; at += block, ++slice) {
    const SliceSettings s = SettingsFor(slice, random);
    owner.params[kParam_CutoffFrequency] = s.cutoff;
    owner.params[kParam_Resonance] = s.resonance;
    owner.params[kParam_Gain] = s.gain;
    testX.store(s.mode);
    cutoffX.store(s.cutoffFactor);
    gainX.store(s.gainFactor);
    const auto frames = static_cast<unsigned>(std::min(block, kFrames - at));
    for (size_t c = 0; c < in.size(); ++c) {
      bool silence = false;
      kernels[c]->Process(in[c].data() + at, out[c].data() + at, frames, 1, silence);
    }
  }
  return out;
}

// The host side of the unit: the input comes through a render callback.
struct Host {
  const std::vector<std::vector<float>>* in = nullptr;
  size_t at = 0;
  static OSStatus Feed(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                       AudioBufferList* list) {
    auto& self = *static_cast<Host*>(refCon);
    for (UInt32 c = 0; c < list->mNumberBuffers; ++c)
      std::memcpy(list->mBuffers[c].mData, (*self.in)[c].data() + self.at, frames * sizeof(float));
    return noErr;
  }
};

using FilterPtr = std::unique_ptr<Filter, TestUnitCloser>;

// Initialised with `channels` on both sides; `host` feeds the input.
FilterPtr OpenFilter(UInt32 channels, bool inPlace = true, Host* host = nullptr) {
  FilterPtr unit(new Filter(TestUnit::DefaultInstance()));
  unit->PostConstructor();
  const AudioStreamBasicDescription format = CanonicalTestFormat(channels, kRate);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
    EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format), noErr);
  const UInt32 inPlaceValue = inPlace ? 1 : 0;
  EXPECT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0,
                                      &inPlaceValue, sizeof inPlaceValue),
            noErr);
  if (host != nullptr) unit->SetInputCallback(kAudioUnitProperty_SetRenderCallback, 0, &Host::Feed, host);
  EXPECT_EQ(unit->DoInitialize(), noErr);
  return unit;
}

std::vector<std::vector<float>> ThroughTheUnit(const std::vector<std::vector<float>>& in, size_t block,
                                               bool inPlace) {
  const auto channels = static_cast<UInt32>(in.size());
  Host host{&in};
  FilterPtr unit = OpenFilter(channels, inPlace, &host);

  std::vector<std::vector<float>> out(channels, std::vector<float>(kFrames));
  std::vector<AudioBufferList> listStorage(AudioBufferListSize(channels) / sizeof(AudioBufferList) + 1);
  AudioBufferList& list = listStorage[0];
  std::mt19937 random(11);
  for (size_t at = 0, slice = 0; at < kFrames; at += block, ++slice) {
    const SliceSettings s = SettingsFor(slice, random);
    unit->SetParameter(kParam_CutoffFrequency, s.cutoff);
    unit->SetParameter(kParam_Resonance, s.resonance);
    unit->SetParameter(kParam_Gain, s.gain);
    testX.store(s.mode);
    cutoffX.store(s.cutoffFactor);
    gainX.store(s.gainFactor);
    const auto frames = static_cast<UInt32>(std::min(block, kFrames - at));
    list.mNumberBuffers = channels;
    for (UInt32 c = 0; c < channels; ++c)
      list.mBuffers[c] = {1, static_cast<UInt32>(frames * sizeof(float)), out[c].data() + at};
    host.at = at;
    AudioTimeStamp time{};
    time.mSampleTime = static_cast<Float64>(at);
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ(unit->DoRender(flags, time, 0, frames, list), noErr) << "slice " << slice;
  }
  return out;
}

// Bits, so that NaNs compare and -0 differs from 0.
void ExpectSameBits(const std::vector<std::vector<float>>& got, const std::vector<std::vector<float>>& want,
                    const std::string& what) {
  for (size_t c = 0; c < want.size(); ++c)
    for (size_t i = 0; i < kFrames; ++i)
      ASSERT_EQ(std::bit_cast<uint32_t>(got[c][i]), std::bit_cast<uint32_t>(want[c][i]))
          << what << ": channel " << c << ", frame " << i << ": " << got[c][i] << " against " << want[c][i];
}

class FilterChannelsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    testX.store(0);
    cutoffX.store(1.0);
    gainX.store(1.0f);
  }
};

TEST_F(FilterChannelsTest, EveryChannelCountAndSliceLengthMatchesOneKernelPerChannel) {
  for (size_t channels : {1, 2, 3, 4, 5, 6, 7, 8, 11}) {
    for (size_t block : {1, 3, 4, 61, 256, 1156}) {
      for (bool inPlace : {true, false}) {
        const std::string what = std::to_string(channels) + " channels, slices of " + std::to_string(block) +
                                 (inPlace ? ", in place" : ", apart");
        const auto in = Input(channels, /*burst=*/true);
        ExpectSameBits(ThroughTheUnit(in, block, inPlace), Reference(in, block), what);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// The burst wrecks its own channel's history only: the other channels keep
// theirs, and the burst channel starts again from silence (its output after
// the burst is finite), as the kernel alone would.
TEST_F(FilterChannelsTest, ABurstClearsOnlyItsOwnChannel) {
  const auto in = Input(4, /*burst=*/true);
  const auto out = ThroughTheUnit(in, 64, true);
  const auto clean = ThroughTheUnit(Input(4, /*burst=*/false), 64, true);
  for (size_t c = 0; c < 4; ++c) {
    if (c == kBurstChannel) continue;
    EXPECT_EQ(std::memcmp(out[c].data(), clean[c].data(), kFrames * sizeof(float)), 0) << "channel " << c;
  }
  for (size_t i = 768; i < kFrames; ++i) ASSERT_TRUE(std::isfinite(out[kBurstChannel][i])) << "frame " << i;
}

// The pass reads a block before writing it; where that would differ from
// one channel after the other, it must refuse.
TEST(FilterChannelsLayout, RefusesLayoutsWhereChannelsSeeEachOthersWrites) {
  std::vector<float> memory(64);
  float* m = memory.data();
  struct Case {
    const char* what;
    const float *in0, *in1;
    float *out0, *out1;
    bool allowed;
  } const cases[] = {
      {"apart", m, m + 10, m + 20, m + 30, true},
      {"each in place", m, m + 8, m, m + 8, true},
      {"both read one input", m, m, m + 16, m + 24, true},
      {"output of one is input of the other", m, m + 8, m + 8, m + 24, false},
      {"outputs overlap", m, m + 8, m + 16, m + 19, false},
      {"one output is both", m, m + 8, m + 16, m + 16, false},
      {"output shifted on its own input", m, m + 8, m + 1, m + 24, false},
      {"touching but apart", m, m + 8, m + 16, m + 24, true},
  };
  ReferenceOwner owner;
  FilterKernel k0(owner), k1(owner);
  for (const Case& c : cases) {
    const FilterChannel channels[] = {{&k0, c.in0, c.out0}, {&k1, c.in1, c.out1}};
    EXPECT_EQ(CanFilterSideBySide(channels, 2, 8), c.allowed) << c.what;
  }
}

// A layout the pass refuses still renders as one channel after the other:
// here channel 1 reads, one sample on, what channel 0 writes.
TEST_F(FilterChannelsTest, RefusedLayoutRendersChannelAfterChannel) {
  testX.store(1);
  auto unit = OpenFilter(2);
  std::vector<float> unitSamples = Input(1, false)[0];
  unitSamples.push_back(0.25f);
  std::vector<float> referenceSamples = unitSamples;
  const auto frames = static_cast<UInt32>(kFrames);

  std::vector<AudioBufferList> inStorage(AudioBufferListSize(2) / sizeof(AudioBufferList) + 1);
  std::vector<AudioBufferList> outStorage = inStorage;
  AudioBufferList& inList = inStorage[0];
  AudioBufferList& outList = outStorage[0];
  inList.mNumberBuffers = outList.mNumberBuffers = 2;
  inList.mBuffers[0] = {1, frames * 4, unitSamples.data()};
  inList.mBuffers[1] = {1, frames * 4, unitSamples.data() + 1};
  outList.mBuffers[0] = {1, frames * 4, unitSamples.data() + 1};
  outList.mBuffers[1] = {1, frames * 4, unitSamples.data() + 1};
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(unit->ProcessBufferLists(flags, inList, outList, frames), noErr);

  ReferenceOwner owner;
  owner.params[kParam_Resonance] = kDefaultResonance;
  FilterKernel k0(owner), k1(owner);
  bool silence = false;
  k0.Process(referenceSamples.data(), referenceSamples.data() + 1, frames, 1, silence);
  k1.Process(referenceSamples.data() + 1, referenceSamples.data() + 1, frames, 1, silence);
  EXPECT_EQ(std::memcmp(unitSamples.data(), referenceSamples.data(), unitSamples.size() * sizeof(float)), 0);
}

}  // namespace
