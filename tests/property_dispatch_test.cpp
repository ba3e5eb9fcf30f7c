// Property information and reads: sizes, writability, scope and element rules
// of every property the framework owns, and the values and references the
// reads hand out.
#include <gtest/gtest.h>

#include <array>

#include "framework/AUFastDispatch.h"
#include "support/PropertyProbe.h"
#include "support/ScopeNames.h"

namespace {

enum class Setup {
  Bare,         // every hook at its default, uninitialized
  Rich,         // hooks that answer: channel table, views, tail, icon, strings, presets
  Initialized,  // bare, then initialized
  LayoutTags,   // outputs list two layout tags, no layout set
  LayoutSet,    // ... and hold a stereo layout
};

CFArrayRef NewEmptyArray() { return CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks); }

ProbeUnitPtr Prepare(Setup setup) {
  const bool layouts = setup == Setup::LayoutTags || setup == Setup::LayoutSet;
  ProbeUnitPtr unit = OpenProbeUnit(layouts);
  switch (setup) {
    case Setup::Bare:
      break;
    case Setup::Rich:
      unit->channels = {{1, 1}, {2, 2}, {-1, -1}};
      unit->views = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
      unit->tail = true;
      unit->tailTime = 0.25;
      unit->latency = 0.003;
      unit->icon.reset(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/usr/share/qelvo/icon.png"),
                                                     kCFURLPOSIXPathStyle, false));
      unit->valueStrings.reset(NewEmptyArray());
      unit->presets.reset(NewEmptyArray());
      unit->presetsStatus = noErr;
      unit->busCountWritable = true;
      break;
    case Setup::Initialized:
      EXPECT_EQ(unit->DoInitialize(), noErr);
      break;
    case Setup::LayoutTags:
      unit->LayoutBus()->tags = {kStereoTag, kAudioChannelLayoutTag_UseChannelBitmap};
      break;
    case Setup::LayoutSet: {
      LayoutOutput* bus = unit->LayoutBus();
      bus->tags = {kStereoTag, kAudioChannelLayoutTag_UseChannelBitmap};
      AudioChannelLayout stereo{kStereoTag, 0, 0, {}};
      bus->layout = BytesOf(stereo, CAAudioChannelLayout::CalculateByteSize(0));
      bus->layoutWritable = true;
      break;
    }
  }
  return unit;
}

struct InfoProbe {
  const char* what;
  Setup setup;
  AudioUnitPropertyID id;
  AudioUnitScope scope;
  AudioUnitElement element;
  OSStatus status;
  UInt32 size = 0;
  bool writable = false;
};

constexpr OSStatus kScope = kAudioUnitErr_InvalidScope;
constexpr OSStatus kElement = kAudioUnitErr_InvalidElement;
constexpr OSStatus kProperty = kAudioUnitErr_InvalidProperty;
constexpr Setup B = Setup::Bare;
constexpr Setup R = Setup::Rich;

const InfoProbe kInfoProbes[] = {
    {"class info", B, kAudioUnitProperty_ClassInfo, G, 0, noErr, 8, true},
    {"class info on input", B, kAudioUnitProperty_ClassInfo, I, 0, kScope},
    {"class info on global 1", B, kAudioUnitProperty_ClassInfo, G, 1, kElement},
    {"class info on scope 5", B, kAudioUnitProperty_ClassInfo, 5, 0, kScope},
    {"connection on global", B, kAudioUnitProperty_MakeConnection, G, 0, noErr, 16, true},
    {"connection on input", B, kAudioUnitProperty_MakeConnection, I, 0, noErr, 16, true},
    {"connection on missing input", B, kAudioUnitProperty_MakeConnection, I, 1, kElement},
    {"connection on output", B, kAudioUnitProperty_MakeConnection, O, 0, kScope},
    {"sample rate on global", B, kAudioUnitProperty_SampleRate, G, 0, noErr, 8, true},
    {"sample rate on input", B, kAudioUnitProperty_SampleRate, I, 0, noErr, 8, true},
    {"sample rate on missing output", B, kAudioUnitProperty_SampleRate, O, 1, kElement},
    {"sample rate on missing input", B, kAudioUnitProperty_SampleRate, I, 1, kElement},
    {"sample rate on group", B, kAudioUnitProperty_SampleRate, Grp, 0, noErr, 8, false},
    {"sample rate on scope 6", B, kAudioUnitProperty_SampleRate, 6, 0, kScope},
    {"sample rate initialized", Setup::Initialized, kAudioUnitProperty_SampleRate, O, 0, noErr, 8, false},
    {"parameter list of global", B, kAudioUnitProperty_ParameterList, G, 0, noErr, 8, false},
    {"parameter list of input", B, kAudioUnitProperty_ParameterList, I, 0, noErr, 0, false},
    {"parameter list of scope 5", B, kAudioUnitProperty_ParameterList, 5, 0, kScope},
    {"parameter info", B, kAudioUnitProperty_ParameterInfo, G, 5, noErr, 104, false},
    {"parameter info, scope untested", B, kAudioUnitProperty_ParameterInfo, 9, 0, noErr, 104, false},
    {"fast dispatch", B, kAudioUnitProperty_FastDispatch, G, 6, noErr, 8, false},
    {"fast dispatch on input", B, kAudioUnitProperty_FastDispatch, I, 6, kScope},
    {"format of input", B, kAudioUnitProperty_StreamFormat, I, 0, noErr, 40, true},
    {"format of output", B, kAudioUnitProperty_StreamFormat, O, 0, noErr, 40, true},
    {"format of global", B, kAudioUnitProperty_StreamFormat, G, 0, noErr, 40, true},
    {"format of missing input", B, kAudioUnitProperty_StreamFormat, I, 1, kElement},
    {"format of global 3", B, kAudioUnitProperty_StreamFormat, G, 3, kElement},
    {"format of part without elements", B, kAudioUnitProperty_StreamFormat, Prt, 0, kElement},
    {"format of scope 5", B, kAudioUnitProperty_StreamFormat, 5, 0, kScope},
    {"format initialized", Setup::Initialized, kAudioUnitProperty_StreamFormat, I, 0, noErr, 40, false},
    {"element count", B, kAudioUnitProperty_ElementCount, I, 0, noErr, 4, false},
    {"element count, scope untested", B, kAudioUnitProperty_ElementCount, 6, 0, noErr, 4, false},
    {"element count writable", R, kAudioUnitProperty_ElementCount, O, 0, noErr, 4, true},
    {"latency", B, kAudioUnitProperty_Latency, G, 0, noErr, 8, false},
    {"latency on output", B, kAudioUnitProperty_Latency, O, 0, kScope},
    {"latency on global 1", B, kAudioUnitProperty_Latency, G, 1, kElement},
    {"no channel table", B, kAudioUnitProperty_SupportedNumChannels, G, 0, kProperty},
    {"channel table", R, kAudioUnitProperty_SupportedNumChannels, G, 0, noErr, 12, false},
    {"channel table on input", R, kAudioUnitProperty_SupportedNumChannels, I, 0, kScope},
    {"channel table on global 1", R, kAudioUnitProperty_SupportedNumChannels, G, 1, kElement},
    {"max frames", B, kAudioUnitProperty_MaximumFramesPerSlice, G, 0, noErr, 4, true},
    {"max frames on output", B, kAudioUnitProperty_MaximumFramesPerSlice, O, 0, kScope},
    {"max frames on global 1", B, kAudioUnitProperty_MaximumFramesPerSlice, G, 1, kElement},
    {"max frames initialized", Setup::Initialized, kAudioUnitProperty_MaximumFramesPerSlice, G, 0, noErr, 4, true},
    {"no value strings", B, kAudioUnitProperty_ParameterValueStrings, G, 5, kProperty},
    {"value strings", R, kAudioUnitProperty_ParameterValueStrings, G, 5, noErr, 8, false},
    {"no views", B, kAudioUnitProperty_GetUIComponentList, G, 0, kProperty},
    {"views", R, kAudioUnitProperty_GetUIComponentList, G, 0, noErr, 40, false},
    {"views on global 1", R, kAudioUnitProperty_GetUIComponentList, G, 1, kElement},
    {"views on input", R, kAudioUnitProperty_GetUIComponentList, I, 0, kScope},
    {"layout of output", B, kAudioUnitProperty_AudioChannelLayout, O, 0, kProperty},
    {"layout of input", B, kAudioUnitProperty_AudioChannelLayout, I, 0, kProperty},
    {"layout of global", B, kAudioUnitProperty_AudioChannelLayout, G, 0, kElement},
    {"layout of group", B, kAudioUnitProperty_AudioChannelLayout, Grp, 0, kElement},
    {"layout of scope 5", B, kAudioUnitProperty_AudioChannelLayout, 5, 0, kScope},
    {"layout unset among tags", Setup::LayoutTags, kAudioUnitProperty_AudioChannelLayout, O, 0,
     kAudioUnitErr_InvalidPropertyValue},
    {"layout set", Setup::LayoutSet, kAudioUnitProperty_AudioChannelLayout, O, 0, noErr, 12, true},
    {"no tail", B, kAudioUnitProperty_TailTime, G, 0, kProperty},
    {"tail", R, kAudioUnitProperty_TailTime, G, 0, noErr, 8, false},
    {"tail on output", R, kAudioUnitProperty_TailTime, O, 0, kScope},
    {"last render error", B, kAudioUnitProperty_LastRenderError, G, 0, noErr, 4, false},
    {"last render error on input", B, kAudioUnitProperty_LastRenderError, I, 0, kScope},
    {"last render error on global 2", B, kAudioUnitProperty_LastRenderError, G, 2, kElement},
    {"render callback on input", B, kAudioUnitProperty_SetRenderCallback, I, 0, noErr, 16, true},
    {"render callback on global", B, kAudioUnitProperty_SetRenderCallback, G, 0, noErr, 16, true},
    {"render callback on output", B, kAudioUnitProperty_SetRenderCallback, O, 0, kScope},
    {"render callback on missing input", B, kAudioUnitProperty_SetRenderCallback, I, 1, kElement},
    {"no factory presets", B, kAudioUnitProperty_FactoryPresets, G, 0, kProperty},
    {"factory presets on output", B, kAudioUnitProperty_FactoryPresets, O, 0, kScope},
    {"factory presets", R, kAudioUnitProperty_FactoryPresets, G, 0, noErr, 8, false},
    {"factory presets on global 1", R, kAudioUnitProperty_FactoryPresets, G, 1, kElement},
    {"context name", B, kAudioUnitProperty_ContextName, G, 0, noErr, 8, true},
    {"context name on input", B, kAudioUnitProperty_ContextName, I, 0, kScope},
    {"host callbacks", B, kAudioUnitProperty_HostCallbacks, G, 0, noErr, 32, true},
    {"host callbacks on part", B, kAudioUnitProperty_HostCallbacks, Prt, 0, kScope},
    {"host callbacks on global 1", B, kAudioUnitProperty_HostCallbacks, G, 1, kElement},
    {"current preset", B, kAudioUnitProperty_CurrentPreset, G, 0, noErr, 16, true},
    {"current preset on output", B, kAudioUnitProperty_CurrentPreset, O, 0, kScope},
    {"present preset", B, kAudioUnitProperty_PresentPreset, G, 0, noErr, 16, true},
    {"present preset on global 1", B, kAudioUnitProperty_PresentPreset, G, 1, kElement},
    {"element name of input", B, kAudioUnitProperty_ElementName, I, 0, noErr, 8, true},
    {"element name of group", B, kAudioUnitProperty_ElementName, Grp, 0, noErr, 8, true},
    {"element name of missing part", B, kAudioUnitProperty_ElementName, Prt, 0, kElement},
    {"element name of scope 5", B, kAudioUnitProperty_ElementName, 5, 0, kScope},
    {"no layout tags", B, kAudioUnitProperty_SupportedChannelLayoutTags, O, 0, kProperty},
    {"layout tags of global", B, kAudioUnitProperty_SupportedChannelLayoutTags, G, 0, kElement},
    {"layout tags", Setup::LayoutTags, kAudioUnitProperty_SupportedChannelLayoutTags, O, 0, noErr, 8, false},
    {"no icon", B, kAudioUnitProperty_IconLocation, G, 0, kProperty},
    {"icon", R, kAudioUnitProperty_IconLocation, G, 0, noErr, 8, false},
    {"icon on group", R, kAudioUnitProperty_IconLocation, Grp, 0, kScope},
    {"icon on global 1", R, kAudioUnitProperty_IconLocation, G, 1, kElement},
    {"unknown property", B, 1000, G, 0, kProperty},
    {"subclass property", B, kProbeProperty, O, 3, noErr, kProbePropertySize, true},
};

TEST(PropertyInfo, EveryFrameworkRow) {
  for (const InfoProbe& probe : kInfoProbes) {
    SCOPED_TRACE(probe.what);
    ProbeUnitPtr unit = Prepare(probe.setup);
    // Poisoned, so a row that forgets to set either shows.
    UInt32 size = 0xDEADBEEF;
    Boolean writable = 2;
    const OSStatus status = StatusOf([&] {
      return unit->DispatchGetPropertyInfo(probe.id, probe.scope, probe.element, size, writable);
    });
    EXPECT_EQ(status, probe.status);
    if (probe.status == noErr) {
      EXPECT_EQ(size, probe.size);
      EXPECT_EQ(writable, probe.writable ? 1 : 0);
    }
  }
}

// ---- reads -------------------------------------------------------------------------------

TEST(PropertyRead, FormatsAndSampleRatesComeFromTheAddressedBus) {
  ProbeUnitPtr unit = OpenProbeUnit();
  const CAStreamBasicDescription input = CanonicalTestFormat(3, 48000.0);
  ASSERT_EQ(unit->GetInput(0)->SetStreamFormat(input), noErr);

  const auto read = ReadAs<AudioStreamBasicDescription>(*unit, kAudioUnitProperty_StreamFormat, I, 0);
  EXPECT_EQ(std::memcmp(&read, &input, sizeof read), 0);
  EXPECT_EQ(ReadAs<Float64>(*unit, kAudioUnitProperty_SampleRate, I, 0), 48000.0);
  // The global scope speaks for output 0.
  EXPECT_EQ(ReadAs<Float64>(*unit, kAudioUnitProperty_SampleRate, G, 0), 44100.0);
  const auto global = ReadAs<AudioStreamBasicDescription>(*unit, kAudioUnitProperty_StreamFormat, G, 0);
  EXPECT_EQ(global.mChannelsPerFrame, 2u);
}

TEST(PropertyRead, ScalarValues) {
  ProbeUnitPtr unit = Prepare(Setup::Rich);
  EXPECT_EQ(ReadAs<UInt32>(*unit, kAudioUnitProperty_ElementCount, I, 0), 1u);
  EXPECT_EQ(ReadAs<UInt32>(*unit, kAudioUnitProperty_ElementCount, Grp, 0), 1u);
  EXPECT_EQ(ReadAs<UInt32>(*unit, kAudioUnitProperty_ElementCount, Prt, 0), 0u);
  UInt32 count = 0;
  EXPECT_EQ(StatusOf([&] { return unit->DispatchGetProperty(kAudioUnitProperty_ElementCount, 9, 0, &count); }),
            kAudioUnitErr_InvalidScope);

  EXPECT_EQ(ReadAs<UInt32>(*unit, kAudioUnitProperty_MaximumFramesPerSlice), 1156u);
  unit->SetMaxFramesPerSlice(512);
  EXPECT_EQ(ReadAs<UInt32>(*unit, kAudioUnitProperty_MaximumFramesPerSlice), 512u);
  EXPECT_EQ(ReadAs<Float64>(*unit, kAudioUnitProperty_Latency), 0.003);
  EXPECT_EQ(ReadAs<Float64>(*unit, kAudioUnitProperty_TailTime), 0.25);

  Float64 tail = -1.0;
  unit->tail = false;
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_TailTime, G, 0, &tail), kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(tail, -1.0);
}

TEST(PropertyRead, TablesAndParameterDescriptions) {
  ProbeUnitPtr unit = Prepare(Setup::Rich);
  std::vector<Byte> bytes;

  ASSERT_EQ(ReadProperty(*unit, kAudioUnitProperty_ParameterList, G, 0, bytes), noErr);
  ASSERT_EQ(bytes.size(), 8u);
  AudioUnitParameterID ids[2];
  std::memcpy(ids, bytes.data(), sizeof ids);
  EXPECT_EQ(ids[0], 5u);
  EXPECT_EQ(ids[1], 7u);

  // The element field names the parameter.
  const auto info = ReadAs<AudioUnitParameterInfo>(*unit, kAudioUnitProperty_ParameterInfo, G, 7);
  EXPECT_EQ(info.maxValue, 700.0f);
  EXPECT_EQ(ReadProperty(*unit, kAudioUnitProperty_ParameterInfo, G, 3, bytes), kAudioUnitErr_InvalidParameter);

  ASSERT_EQ(ReadProperty(*unit, kAudioUnitProperty_SupportedNumChannels, G, 0, bytes), noErr);
  ASSERT_EQ(bytes.size(), 3 * sizeof(AUChannelInfo));
  EXPECT_EQ(std::memcmp(bytes.data(), unit->channels.data(), bytes.size()), 0);

  ASSERT_EQ(ReadProperty(*unit, kAudioUnitProperty_GetUIComponentList, G, 0, bytes), noErr);
  ASSERT_EQ(bytes.size(), 2 * sizeof(ComponentDescription));
  EXPECT_EQ(std::memcmp(bytes.data(), unit->views.data(), bytes.size()), 0);
}

TEST(PropertyRead, LastRenderErrorIsClearedByReading) {
  ProbeUnitPtr unit = OpenProbeUnit();
  EXPECT_EQ(ReadAs<OSStatus>(*unit, kAudioUnitProperty_LastRenderError), noErr);
  unit->SetRenderError(kAudioUnitErr_TooManyFramesToProcess);
  if (unit->GetLastRenderError() == noErr) GTEST_SKIP() << "render failures are not recorded yet";
  EXPECT_EQ(ReadAs<OSStatus>(*unit, kAudioUnitProperty_LastRenderError), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(ReadAs<OSStatus>(*unit, kAudioUnitProperty_LastRenderError), noErr);
}

TEST(PropertyRead, HostCallbackBlockIsReadWhole) {
  ProbeUnitPtr unit = OpenProbeUnit();
  int anchor[4] = {};
  HostCallbackInfo info{&anchor[0], &anchor[1], nullptr, &anchor[3]};
  ASSERT_EQ(WriteProperty(*unit, kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(info)), noErr);
  const auto read = ReadAs<HostCallbackInfo>(*unit, kAudioUnitProperty_HostCallbacks);
  EXPECT_EQ(std::memcmp(&read, &info, sizeof info), 0);
}

// ---- references handed to the caller ------------------------------------------------------

TEST(PropertyRead, ContextNameGivesTheCallerItsOwnReference) {
  ProbeUnitPtr unit = OpenProbeUnit();
  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(nullptr, "Track 3", kCFStringEncodingUTF8));
  ASSERT_EQ(WriteProperty(*unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(name.get())), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 2);  // ours and the unit's

  CFStringRef read = ReadAs<CFStringRef>(*unit, kAudioUnitProperty_ContextName);
  EXPECT_EQ(read, name.get());
  EXPECT_EQ(CFGetRetainCount(name.get()), 3);
  CFRelease(read);

  ASSERT_EQ(RemoveProperty(*unit, kAudioUnitProperty_ContextName, G, 0), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 1);

  // None: null is written, and the read fails.
  CFStringRef none = reinterpret_cast<CFStringRef>(&read);
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_ContextName, G, 0, &none),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(none, nullptr);
}

TEST(PropertyRead, ElementNameGivesTheCallerItsOwnReference) {
  ProbeUnitPtr unit = OpenProbeUnit();
  std::vector<Byte> bytes;
  EXPECT_EQ(ReadProperty(*unit, kAudioUnitProperty_ElementName, I, 0, bytes), kAudioUnitErr_InvalidPropertyValue);

  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(nullptr, "Side chain", kCFStringEncodingUTF8));
  ASSERT_EQ(WriteProperty(*unit, kAudioUnitProperty_ElementName, I, 0, BytesOf(name.get())), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 2);
  CFStringRef read = ReadAs<CFStringRef>(*unit, kAudioUnitProperty_ElementName, I, 0);
  EXPECT_EQ(read, name.get());
  EXPECT_EQ(CFGetRetainCount(name.get()), 3);
  CFRelease(read);
}

TEST(PropertyRead, OnlyThePresentPresetHandsOutAReference) {
  ProbeUnitPtr unit = OpenProbeUnit();
  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(
      CFStringCreateWithCString(nullptr, "Mine", kCFStringEncodingUTF8));
  ASSERT_EQ(WriteProperty(*unit, kAudioUnitProperty_PresentPreset, G, 0, BytesOf(AUPreset{-4, name.get()})), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 2);

  const auto current = ReadAs<AUPreset>(*unit, kAudioUnitProperty_CurrentPreset);
  EXPECT_EQ(current.presetNumber, -4);
  EXPECT_EQ(current.presetName, name.get());
  EXPECT_EQ(CFGetRetainCount(name.get()), 2);

  const auto present = ReadAs<AUPreset>(*unit, kAudioUnitProperty_PresentPreset);
  EXPECT_EQ(present.presetName, name.get());
  EXPECT_EQ(CFGetRetainCount(name.get()), 3);
  CFRelease(present.presetName);
}

TEST(PropertyRead, CopiedValuesBelongToTheCaller) {
  ProbeUnitPtr unit = Prepare(Setup::Rich);

  auto state = ReadAs<CFPropertyListRef>(*unit, kAudioUnitProperty_ClassInfo);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(CFGetRetainCount(state), 1);
  CFRelease(state);

  auto presets = ReadAs<CFArrayRef>(*unit, kAudioUnitProperty_FactoryPresets);
  EXPECT_EQ(presets, unit->presets.get());
  EXPECT_EQ(CFGetRetainCount(presets), 2);
  CFRelease(presets);

  auto strings = ReadAs<CFArrayRef>(*unit, kAudioUnitProperty_ParameterValueStrings, G, 5);
  EXPECT_EQ(strings, unit->valueStrings.get());
  EXPECT_EQ(CFGetRetainCount(strings), 2);
  CFRelease(strings);

  auto icon = ReadAs<CFURLRef>(*unit, kAudioUnitProperty_IconLocation);
  EXPECT_EQ(icon, unit->icon.get());
  EXPECT_EQ(CFGetRetainCount(icon), 2);
  CFRelease(icon);
  EXPECT_EQ(CFGetRetainCount(unit->icon.get()), 1);  // asking whether there is one keeps nothing
}

TEST(PropertyRead, FailedStateAndPresetReadsLeaveANull) {
  ProbeUnitPtr unit = OpenProbeUnit();
  unit->saveStatus = -1234;
  unit->presetsStatus = kAudioUnitErr_InvalidProperty;
  // Garbage that a caller ignoring the status might otherwise release.
  CFTypeRef out = &out;
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_ClassInfo, G, 0, &out), -1234);
  EXPECT_EQ(out, nullptr);
  out = &out;
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FactoryPresets, G, 0, &out),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(out, nullptr);
}

// ---- fast dispatch ------------------------------------------------------------------------

TEST(PropertyRead, FastDispatchHandsOutTheThreeDirectEntries) {
  struct Case {
    AudioUnitElement element;
    OSStatus status;
    const void* address;
  };
  const Case cases[] = {
      {kAudioUnitGetParameterSelect, noErr, reinterpret_cast<const void*>(&AudioUnitBaseGetParameter)},
      {kAudioUnitSetParameterSelect, noErr, reinterpret_cast<const void*>(&AudioUnitBaseSetParameter)},
      {kAudioUnitRenderSelect, noErr, reinterpret_cast<const void*>(&AudioUnitBaseRender)},
      {9, kAudioUnitErr_InvalidProperty, nullptr},  // the subclass handler's default
      {kAudioUnitGetPropertySelect, kAudioUnitErr_InvalidProperty, nullptr},
  };
  ProbeUnitPtr unit = OpenProbeUnit();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    std::vector<Byte> bytes;
    EXPECT_EQ(ReadProperty(*unit, kAudioUnitProperty_FastDispatch, G, c.element, bytes), c.status);
    if (c.status != noErr) continue;
    const void* address = nullptr;
    ASSERT_EQ(bytes.size(), sizeof address);
    std::memcpy(&address, bytes.data(), sizeof address);
    EXPECT_EQ(address, c.address);
  }

  unit->extraFastPath = true;
  UInt32 answer = 0;
  EXPECT_EQ(unit->DispatchGetProperty(kAudioUnitProperty_FastDispatch, G, 9, &answer), noErr);
  EXPECT_EQ(answer, 0xFEEDu);
}

TEST(FastDispatch, DirectEntriesReachTheUnitAndReportFailures) {
  ProbeUnitPtr unit = OpenProbeUnit();
  void* storage = static_cast<AUBase*>(unit.get());

  EXPECT_EQ(AudioUnitBaseSetParameter(storage, 5, G, 0, 0.125f, 0), noErr);
  AudioUnitParameterValue value = 0.0f;
  EXPECT_EQ(AudioUnitBaseGetParameter(storage, 5, G, 0, &value), noErr);
  EXPECT_EQ(value, 0.125f);

  const struct {
    const char* what;
    OSStatus status;
    OSStatus expected;
  } cases[] = {
      {"get with null unit", AudioUnitBaseGetParameter(nullptr, 5, G, 0, &value), paramErr},
      {"get with null output", AudioUnitBaseGetParameter(storage, 5, G, 0, nullptr), paramErr},
      {"get on scope 7", AudioUnitBaseGetParameter(storage, 5, 7, 0, &value), kAudioUnitErr_InvalidScope},
      {"get unknown parameter", AudioUnitBaseGetParameter(storage, 99, G, 0, &value), kAudioUnitErr_InvalidParameter},
      {"set with null unit", AudioUnitBaseSetParameter(nullptr, 5, G, 0, 1.0f, 0), paramErr},
      {"set on missing element", AudioUnitBaseSetParameter(storage, 5, I, 4, 1.0f, 0), kAudioUnitErr_InvalidElement},
      {"set in group scope", AudioUnitBaseSetParameter(storage, 5, Grp, 0, 1.0f, 0), kAudioUnitErr_InvalidScope},
      {"render with null unit", AudioUnitBaseRender(nullptr, nullptr, nullptr, 0, 0, nullptr), paramErr},
      {"render without time stamp", AudioUnitBaseRender(storage, nullptr, nullptr, 0, 0, nullptr), paramErr},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
}

TEST(FastDispatch, FailureConversion) {
  EXPECT_EQ(CallReturningStatus([]() -> OSStatus { throw std::bad_alloc(); }), memFullErr);
  EXPECT_EQ(CallReturningStatus([]() -> OSStatus { throw OSStatus(-10877); }), -10877);
  EXPECT_EQ(CallReturningStatus([]() -> OSStatus { throw OSErr(-50); }), -50);
  EXPECT_EQ(CallReturningStatus([]() -> OSStatus { throw 3.5; }), -1);
  EXPECT_EQ(CallReturningStatus([]() -> OSStatus { return 7; }), 7);
}

// ---- channel layouts ------------------------------------------------------------------------

TEST(PropertyRead, LayoutAndTagsComeFromTheBus) {
  ProbeUnitPtr unit = Prepare(Setup::LayoutSet);
  const auto tags = ReadAs<std::array<AudioChannelLayoutTag, 2>>(*unit, kAudioUnitProperty_SupportedChannelLayoutTags, O, 0);
  EXPECT_EQ(tags[0], kStereoTag);
  EXPECT_EQ(tags[1], kAudioChannelLayoutTag_UseChannelBitmap);

  std::vector<Byte> bytes;
  ASSERT_EQ(ReadProperty(*unit, kAudioUnitProperty_AudioChannelLayout, O, 0, bytes), noErr);
  EXPECT_EQ(bytes, unit->LayoutBus()->layout);
}

}  // namespace
