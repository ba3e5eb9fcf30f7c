// The filter effect unit in-process (the band-7 deliverable): parameter
// descriptions, presets and what choosing one does to the modulation state,
// the frequency-response curve and its change notice.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effect/Filter.h"
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"
#include "effect/FilterPresets.h"
#include "effect/KestNotificationObserver.h"
#include "effect/ModulationReport.h"
#include "effect/ModulationState.h"
#include "framework/AUParameterName.h"
#include "platform/CFRef.h"
#include "support/PrivateBusEnvironment.h"
#include "support/PropertyNotices.h"
#include "support/TestUnit.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

using FilterPtr = std::unique_ptr<Filter, TestUnitCloser>;

FilterPtr OpenFilter() {
  FilterPtr unit(new Filter(TestUnit::DefaultInstance()));
  unit->PostConstructor();
  return unit;
}

void SetFormats(Filter& unit, UInt32 channels, Float64 sampleRate) {
  const AudioStreamBasicDescription format = CanonicalTestFormat(channels, sampleRate);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output})
    ASSERT_EQ(unit.DispatchSetProperty(kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format), noErr);
}

FilterPtr OpenInitializedFilter(Float64 sampleRate = 44100.0) {
  FilterPtr unit = OpenFilter();
  SetFormats(*unit, 2, sampleRate);
  EXPECT_EQ(unit->DoInitialize(), noErr);
  return unit;
}

std::string Text(CFStringRef s) {
  const char* text = s != nullptr ? CFStringGetCStringPtr(s, kCFStringEncodingUTF8) : nullptr;
  return text != nullptr ? text : "<none>";
}

// ---- parameters -----------------------------------------------------------------

struct ParameterCase {
  AudioUnitParameterID id;
  const char* name;
  UInt32 unit;
  Float32 min;
  Float32 max44100;
  Float32 max48000;
  Float32 defaultValue;
  UInt32 flags;
};

const ParameterCase kParameterCases[] = {
    {kParam_CutoffFrequency, "cutoff frequency", kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 24000.0f, 1000.0f,
     0xC8C00000u},
    {kParam_Resonance, "resonance", kAudioUnitParameterUnit_Decibels, -20.0f, 20.0f, 20.0f, 0.0f, 0xC8800000u},
    {kParam_Gain, "Gain", kAudioUnitParameterUnit_LinearGain, 0.0f, 1.0f, 1.0f, 1.0f, 0xC8000000u},
};

TEST(FilterParameters, DescriptionsFollowTheSampleRate) {
  for (Float64 rate : {44100.0, 48000.0}) {
    FilterPtr unit = OpenFilter();
    SetFormats(*unit, 2, rate);
    for (const ParameterCase& c : kParameterCases) {
      AudioUnitParameterInfo info;
      std::memset(&info, 0xA5, sizeof info);
      ASSERT_EQ(unit->GetParameterInfo(kAudioUnitScope_Global, c.id, info), noErr) << c.name;
      EXPECT_STREQ(info.name, c.name);
      EXPECT_EQ(Text(info.cfNameString), c.name);
      EXPECT_EQ(info.unit, c.unit) << c.name;
      EXPECT_EQ(info.minValue, c.min) << c.name;
      EXPECT_EQ(info.maxValue, rate == 44100.0 ? c.max44100 : c.max48000) << c.name << " at " << rate;
      EXPECT_EQ(info.defaultValue, c.defaultValue) << c.name;
      EXPECT_EQ(info.flags, c.flags) << c.name;
      EXPECT_EQ(info.unitName, nullptr) << c.name;
      EXPECT_EQ(info.clumpID, 0u) << c.name;
      // The names are constants: the host must not release them.
      EXPECT_EQ(info.flags & kAudioUnitParameterFlag_CFNameRelease, 0u);
    }
  }
}

TEST(FilterParameters, RefusesOtherScopesAndIDs) {
  FilterPtr unit = OpenFilter();
  const struct {
    AudioUnitScope scope;
    AudioUnitParameterID id;
  } refused[] = {{kAudioUnitScope_Input, kParam_CutoffFrequency},
                 {kAudioUnitScope_Output, kParam_Gain},
                 {7, kParam_Resonance},
                 {kAudioUnitScope_Global, 3},
                 {kAudioUnitScope_Global, 0xFFFFFFFFu}};
  for (const auto& r : refused) {
    AudioUnitParameterInfo info{};
    EXPECT_EQ(unit->GetParameterInfo(r.scope, r.id, info), kAudioUnitErr_InvalidParameter)
        << "scope " << r.scope << " id " << r.id;
    EXPECT_EQ(info.flags, 0xC0000000u);
    EXPECT_EQ(info.cfNameString, nullptr);
  }
}

TEST(FilterParameters, DefaultsAreSetAndASampleRateChangeAnnouncesNewRanges) {
  FilterPtr unit = OpenFilter();
  EXPECT_EQ(unit->GetParameter(kParam_CutoffFrequency), 1000.0f);
  EXPECT_EQ(unit->GetParameter(kParam_Resonance), 0.0f);
  EXPECT_EQ(unit->GetParameter(kParam_Gain), 1.0f);

  SetFormats(*unit, 2, 44100.0);
  std::vector<Notice> notices;
  ASSERT_EQ(unit->AddPropertyListener(kAudioUnitProperty_ParameterList, RecordNotice, &notices), noErr);
  const AudioStreamBasicDescription format = CanonicalTestFormat(2, 48000.0);
  ASSERT_EQ(
      unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format, sizeof format),
      noErr);
  EXPECT_EQ(notices.size(), 1u);
  AudioUnitParameterInfo info{};
  ASSERT_EQ(unit->GetParameterInfo(kAudioUnitScope_Global, kParam_CutoffFrequency, info), noErr);
  EXPECT_EQ(info.maxValue, 24000.0f);
}

TEST(FilterParameters, NameFieldKeepsATerminatedPrefixOfALongName) {
  const std::string longName(80, 'x');
  auto name = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, longName.c_str(), kCFStringEncodingUTF8));
  AudioUnitParameterInfo info;
  std::memset(&info, 0x7F, sizeof info);
  info.flags = 0;
  FillInParameterName(info, name.get(), true);
  EXPECT_EQ(std::string(info.name), longName.substr(0, sizeof info.name - 1));
  EXPECT_EQ(info.cfNameString, name.get());
  EXPECT_EQ(info.flags, kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease);
}

// ---- presets --------------------------------------------------------------------

const char* const kBandNames[] = {"LCH Count-Gain",       "LCH Count-Filter",       "LCH F-Gain",
                                  "LCH F-Filter",         "RCH Count-Gain",         "RCH Count-Filter",
                                  "RCH F-Gain",           "RCH F-Filter",           "Coherence Count-Gain",
                                  "Coherence Count-Filter", "Coherence F-Gain",     "Coherence F-Filter"};

TEST(FilterPresets, ArrayHoldsTheConstantRecordsInOrder) {
  FilterPtr unit = OpenFilter();
  EXPECT_EQ(unit->GetPresets(nullptr), noErr);

  CFArrayRef presets = nullptr;
  ASSERT_EQ(unit->GetPresets(&presets), noErr);
  auto owned = CFRef<CFArrayRef>::Adopt(presets);
  const auto table = FilterPresets();
  ASSERT_EQ(CFArrayGetCount(presets), 12);
  for (CFIndex i = 0; i < 12; ++i) {
    const auto* preset = static_cast<const AUPreset*>(CFArrayGetValueAtIndex(presets, i));
    EXPECT_EQ(preset, &table[i]);
    EXPECT_EQ(preset->presetNumber, i);
    EXPECT_EQ(Text(preset->presetName), kBandNames[i]);
  }
  // A second array holds the very same records; releasing either touches none.
  CFArrayRef again = nullptr;
  ASSERT_EQ(unit->GetPresets(&again), noErr);
  EXPECT_EQ(CFArrayGetValueAtIndex(again, 3), CFArrayGetValueAtIndex(presets, 3));
  CFRelease(again);
}

struct ModulationSnapshot {
  int32_t index;
  int32_t mode;
  float gain;
  double cutoff;
};

ModulationSnapshot Snapshot() { return {kPresetDefaultIndexX.load(), testX.load(), gainX.load(), cutoffX.load()}; }

void SetModulation(const ModulationSnapshot& s) {
  kPresetDefaultIndexX.store(s.index);
  testX.store(s.mode);
  gainX.store(s.gain);
  cutoffX.store(s.cutoff);
}

TEST(FilterPresets, ChoosingOneSetsIndexModeAndResetsOneFactor) {
  const ModulationSnapshot before{7, 5, 0.25f, 3.5};
  const struct {
    SInt32 number;
    ModulationSnapshot after;
  } cases[] = {
      {0, {0, 0, 1.0f, 3.5}},   {1, {1, 1, 0.25f, 1.0}},  {2, {2, 0, 1.0f, 3.5}},
      {5, {5, 1, 0.25f, 1.0}},  {10, {10, 0, 1.0f, 3.5}}, {11, {11, 1, 0.25f, 1.0}},
  };
  FilterPtr unit = OpenFilter();
  for (const auto& c : cases) {
    SetModulation(before);
    // The name the host sends does not matter, only the number.
    const AUPreset request{c.number, CFSTR("whatever the host says")};
    ASSERT_EQ(unit->NewFactoryPresetSet(request), noErr) << c.number;
    const ModulationSnapshot now = Snapshot();
    EXPECT_EQ(now.index, c.after.index) << c.number;
    EXPECT_EQ(now.mode, c.after.mode) << c.number;
    EXPECT_EQ(now.gain, c.after.gain) << c.number;
    EXPECT_EQ(now.cutoff, c.after.cutoff) << c.number;
    // The parameters are not presets' business.
    EXPECT_EQ(unit->GetParameter(kParam_Gain), 1.0f);
  }
}

TEST(FilterPresets, ChosenPresetBecomesCurrent) {
  FilterPtr unit = OpenFilter();
  ASSERT_EQ(unit->NewFactoryPresetSet(AUPreset{5, CFSTR("x")}), noErr);
  EXPECT_EQ(unit->GetCurrentPreset().presetNumber, 5);
  EXPECT_EQ(Text(unit->GetCurrentPreset().presetName), "RCH Count-Filter");
}

TEST(FilterPresets, NumbersOutsideTheTableChangeNothing) {
  FilterPtr unit = OpenFilter();
  ASSERT_EQ(unit->NewFactoryPresetSet(AUPreset{3, CFSTR("LCH F-Filter")}), noErr);
  const ModulationSnapshot before{3, 0, 0.5f, 2.0};
  for (SInt32 number : {-1, 12, 13, 1000, INT32_MIN}) {
    SetModulation(before);
    EXPECT_EQ(unit->NewFactoryPresetSet(AUPreset{number, CFSTR("RCH F-Gain")}), kAudioUnitErr_InvalidPropertyValue)
        << number;
    const ModulationSnapshot now = Snapshot();
    EXPECT_EQ(now.index, before.index);
    EXPECT_EQ(now.mode, before.mode);
    EXPECT_EQ(now.gain, before.gain);
    EXPECT_EQ(now.cutoff, before.cutoff);
    EXPECT_EQ(unit->GetCurrentPreset().presetNumber, 3);
  }
}

TEST(FilterConstruction, ResetsBothFactorsButKeepsModeAndPreset) {
  SetModulation({9, 1, 0.4f, 6.0});
  FilterPtr unit = OpenFilter();
  const ModulationSnapshot now = Snapshot();
  EXPECT_EQ(now.index, 9);
  EXPECT_EQ(now.mode, 1);
  EXPECT_EQ(now.gain, 1.0f);
  EXPECT_EQ(now.cutoff, 1.0);
  // No preset is chosen at construction.
  EXPECT_EQ(unit->GetCurrentPreset().presetNumber, -1);
}

// ---- initialisation and the frequency-response curve -----------------------------

TEST(FilterInitialize, MakesFilterKernelsAndAnnouncesTheCurveOnce) {
  FilterPtr unit = OpenFilter();
  SetFormats(*unit, 2, 44100.0);
  std::vector<Notice> notices;
  ASSERT_EQ(unit->AddPropertyListener(kFrequencyResponsePropertyID, RecordNotice, &notices), noErr);
  ASSERT_EQ(unit->DoInitialize(), noErr);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].id, kFrequencyResponsePropertyID);
  EXPECT_EQ(notices[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(notices[0].element, 0u);
  ASSERT_EQ(unit->GetNumberOfKernels(), 2u);
  EXPECT_NE(dynamic_cast<FilterKernel*>(unit->GetKernel(0)), nullptr);
  EXPECT_NE(dynamic_cast<FilterKernel*>(unit->GetKernel(1)), nullptr);
}

TEST(FilterInitialize, FailureAnnouncesNothing) {
  FilterPtr unit = OpenFilter();
  const AudioStreamBasicDescription stereo = CanonicalTestFormat(2), mono = CanonicalTestFormat(1);
  ASSERT_EQ(unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &stereo,
                                      sizeof stereo),
            noErr);
  ASSERT_EQ(
      unit->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &mono, sizeof mono),
      noErr);
  std::vector<Notice> notices;
  ASSERT_EQ(unit->AddPropertyListener(kFrequencyResponsePropertyID, RecordNotice, &notices), noErr);
  EXPECT_EQ(unit->DoInitialize(), kAudioUnitErr_FormatNotSupported);
  EXPECT_TRUE(notices.empty());
}

TEST(FilterProperties, InfoOfTheTwoOwnPropertiesInTheGlobalScopeOnly) {
  FilterPtr unit = OpenFilter();
  UInt32 size = 0;
  Boolean writable = true;
  ASSERT_EQ(unit->DispatchGetPropertyInfo(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 3, size, writable),
            noErr);
  EXPECT_EQ(size, 8192u);
  EXPECT_FALSE(writable);
  writable = true;
  ASSERT_EQ(unit->DispatchGetPropertyInfo(kAudioUnitProperty_EditorView, kAudioUnitScope_Global, 0, size, writable),
            noErr);
  EXPECT_EQ(size, sizeof(AudioUnitEditorViewInfo));
  EXPECT_FALSE(writable);

  // Elsewhere these are properties nobody defines.
  size = 1234;
  EXPECT_NE(unit->DispatchGetPropertyInfo(kFrequencyResponsePropertyID, kAudioUnitScope_Input, 0, size, writable),
            noErr);
  EXPECT_NE(unit->DispatchGetPropertyInfo(kAudioUnitProperty_EditorView, kAudioUnitScope_Output, 0, size, writable),
            noErr);
  // The other deliverables' curve IDs are not this unit's.
  for (AudioUnitPropertyID other : {67800u, 67801u, 67802u, 67809u}) {
    EXPECT_EQ(unit->DispatchGetPropertyInfo(other, kAudioUnitScope_Global, 0, size, writable),
              kAudioUnitErr_InvalidProperty)
        << other;
  }
}

ModulationReport Report(Filter& unit) {
  ModulationReport report{};
  std::memset(&report, 0xAB, sizeof report);
  EXPECT_EQ(unit.DispatchGetProperty(kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report), noErr);
  return report;
}

void PostLevel(const char* symbol, double level) {
  const void* keys[] = {CFSTR("Kest Symbol"), CFSTR("New Level")};
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  auto name = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, symbol, kCFStringEncodingUTF8));
  const void* values[] = {name.get(), number.get()};
  auto info = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(
      nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  myCallback(nullptr, nullptr, nullptr, nullptr, info.get());
}

TEST(FilterProperties, ModulationReportFollowsTheLevelsOfTheChosenMeasure) {
  FilterPtr unit = OpenFilter();
  UInt32 size = 0;
  Boolean writable = true;
  ASSERT_EQ(unit->DispatchGetPropertyInfo(kModulationReportPropertyID, kAudioUnitScope_Global, 0, size, writable),
            noErr);
  EXPECT_EQ(size, sizeof(ModulationReport));
  EXPECT_FALSE(writable);
  EXPECT_NE(unit->DispatchGetPropertyInfo(kModulationReportPropertyID, kAudioUnitScope_Input, 0, size, writable),
            noErr);

  // A new instance starts from level 0 with both factors at 1.
  ModulationReport r = Report(*unit);
  EXPECT_EQ(r.mLevel, 0.0);
  EXPECT_EQ(r.mCutoffFactor, 1.0);
  EXPECT_EQ(r.mGainFactor, 1.0f);

  ASSERT_EQ(unit->NewFactoryPresetSet(AUPreset{1, nullptr}), noErr);  // LCH Count-Filter: BS7V0 x 0.3
  PostLevel("BS7V0", 10.0);
  r = Report(*unit);
  EXPECT_EQ(r.mLevel, 10.0);  // as posted, before the preset's scale
  EXPECT_EQ(r.mCutoffFactor, static_cast<double>(static_cast<float>(10.0 * 0.3)) / 6.0);
  EXPECT_EQ(r.mGainFactor, static_cast<float>(10.0 * 0.3) / 10.0f);
  EXPECT_EQ(r.mFilterMode, 1u);

  // Levels of other measures, and levels that are not numbers, are not applied.
  PostLevel("BS7V1", 40.0);
  PostLevel("BS7V0", std::nan(""));
  EXPECT_EQ(Report(*unit).mLevel, 10.0);

  ASSERT_EQ(unit->NewFactoryPresetSet(AUPreset{0, nullptr}), noErr);  // LCH Count-Gain
  PostLevel("BS7V0", 5.0);
  r = Report(*unit);
  EXPECT_EQ(r.mLevel, 5.0);
  EXPECT_EQ(r.mFilterMode, 0u);
}

TEST(FilterProperties, EditorViewNeedsTheLoadedBundle) {
  // In a test program the deliverable's bundle is not loaded.
  FilterPtr unit = OpenFilter();
  AudioUnitEditorViewInfo info;
  std::memset(&info, 0x5A, sizeof info);
  const AudioUnitEditorViewInfo untouched = info;
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_EditorView, kAudioUnitScope_Global, 0, &info), fnfErr);
  EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
}

std::vector<FrequencyResponsePoint> Points(std::initializer_list<double> frequencies) {
  std::vector<FrequencyResponsePoint> points(kFrequencyResponsePointCount, FrequencyResponsePoint{0.0, -1.0});
  size_t i = 0;
  for (double f : frequencies) points[i++].frequency = f;
  return points;
}

TEST(FilterFrequencyResponse, RefusedBeforeInitializeWithTheDataUntouched) {
  FilterPtr unit = OpenFilter();
  SetFormats(*unit, 2, 44100.0);
  std::vector<FrequencyResponsePoint> points = Points({1000.0, 2000.0});
  const std::vector<FrequencyResponsePoint> before = points;
  EXPECT_EQ(unit->DispatchGetProperty(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 0, points.data()),
            kAudioUnitErr_Uninitialized);
  EXPECT_EQ(std::memcmp(points.data(), before.data(), kFrequencyResponseByteSize), 0);
}

TEST(FilterFrequencyResponse, CurveOfTheUnmodulatedParameters) {
  FilterPtr unit = OpenInitializedFilter();
  const struct {
    const char* what;
    Float32 cutoff;
    Float32 resonance;
    double cutoffFactor;
    double frequency;
    double magnitude;
    double tolerance;
  } cases[] = {
      {"at the cutoff", 1000.0f, 0.0f, 1.0, 1000.0, 1.0, 1e-12},
      {"whatever the cutoff factor", 1000.0f, 0.0f, 0.0, 1000.0, 1.0, 1e-12},
      {"whatever the cutoff factor", 1000.0f, 0.0f, 10.0, 1000.0, 1.0, 1e-12},
      {"at 0 Hz", 1000.0f, 0.0f, 4.0, 0.0, 1.0, 1e-12},
      {"resonance peak", 1000.0f, 12.0f, 1.0, 1000.0, std::pow(10.0, 12.0 / 20.0), 1e-9},
      // No resonance limits on the curve, unlike rendering.
      {"beyond the resonance limit", 1000.0f, 30.0f, 1.0, 1000.0, std::pow(10.0, 30.0 / 20.0), 1e-9},
      // No 12 Hz floor either.
      {"below the rendering floor", 5.0f, 6.0f, 1.0, 5.0, std::pow(10.0, 6.0 / 20.0), 1e-6},
      // 30000 Hz is 1.36 of half the rate, limited to 0.99.
      {"cutoff limited to 0.99", 30000.0f, 0.0f, 1.0, 0.99 * 22050.0, 1.0, 1e-9},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(unit->SetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0, c.cutoff, 0), noErr);
    ASSERT_EQ(unit->SetParameter(kParam_Resonance, kAudioUnitScope_Global, 0, c.resonance, 0), noErr);
    cutoffX.store(c.cutoffFactor);
    std::vector<FrequencyResponsePoint> points = Points({c.frequency, 0.0});
    ASSERT_EQ(unit->DispatchGetProperty(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 0, points.data()),
              noErr);
    EXPECT_NEAR(points[0].magnitude, c.magnitude, c.tolerance) << c.what;
    EXPECT_EQ(points[0].frequency, c.frequency) << "frequencies are the caller's";
    // Every record gets its magnitude; those at 0 Hz have unit gain.
    for (size_t i = 1; i < points.size(); ++i) ASSERT_NEAR(points[i].magnitude, 1.0, 1e-8) << c.what << " " << i;
  }
  cutoffX.store(1.0);
}

TEST(FilterFrequencyResponse, LeavesTheRenderingKernelAlone) {
  FilterPtr unit = OpenInitializedFilter();
  testX.store(1);
  cutoffX.store(1.0);
  auto* kernel = dynamic_cast<FilterKernel*>(unit->GetKernel(0));
  ASSERT_NE(kernel, nullptr);
  std::vector<float> in(64, 0.25f), out(64);
  bool silence = false;
  kernel->Process(in.data(), out.data(), 64, 1, silence);
  const FilterCoefficients rendered = kernel->Coefficients();

  ASSERT_EQ(unit->SetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0, 5000.0f, 0), noErr);
  ASSERT_EQ(unit->SetParameter(kParam_Resonance, kAudioUnitScope_Global, 0, 10.0f, 0), noErr);
  std::vector<FrequencyResponsePoint> points = Points({100.0});
  ASSERT_EQ(unit->DispatchGetProperty(kFrequencyResponsePropertyID, kAudioUnitScope_Global, 0, points.data()),
            noErr);
  const FilterCoefficients after = kernel->Coefficients();
  EXPECT_EQ(std::memcmp(&after, &rendered, sizeof after), 0);
}

}  // namespace
