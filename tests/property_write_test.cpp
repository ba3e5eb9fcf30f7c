// Property writes and removals: size, scope and element checks in their
// order, what each write changes, and the change notices it sends.
#include <gtest/gtest.h>

#include <functional>

#include "support/PropertyProbe.h"
#include "support/ScopeNames.h"

namespace {

constexpr OSStatus kValue = kAudioUnitErr_InvalidPropertyValue;
constexpr OSStatus kScope = kAudioUnitErr_InvalidScope;
constexpr OSStatus kElement = kAudioUnitErr_InvalidElement;

constexpr AudioChannelLayoutTag kQuadTag = (108u << 16) | 4;

OSStatus Thunk(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
               AudioBufferList*) {
  return noErr;
}

std::vector<Byte> Word(UInt32 value) { return BytesOf(value); }

std::vector<Byte> Format(UInt32 channels, Float64 rate, size_t size = 40) {
  return BytesOf<AudioStreamBasicDescription>(CanonicalTestFormat(channels, rate), size);
}

// A layout record with n descriptions, padded or cut to `size` bytes.
std::vector<Byte> Layout(AudioChannelLayoutTag tag, UInt32 bitmap, UInt32 descriptions, size_t size) {
  std::vector<Byte> bytes(size, 0);
  const UInt32 header[3] = {tag, bitmap, descriptions};
  std::memcpy(bytes.data(), header, std::min(size, sizeof header));
  return bytes;
}
std::vector<Byte> Layout(AudioChannelLayoutTag tag, UInt32 bitmap = 0, UInt32 descriptions = 0) {
  return Layout(tag, bitmap, descriptions, CAAudioChannelLayout::CalculateByteSize(descriptions));
}

// A unit with listeners on every property, set up for one case.
struct Fixture {
  explicit Fixture(bool layouts = false) : unit(OpenProbeUnit(layouts)) { log.ListenToAll(*unit); }
  ProbeUnitPtr unit;
  NoticeLog log;
};

struct WriteCase {
  const char* what;
  AudioUnitPropertyID id;
  AudioUnitScope scope;
  AudioUnitElement element;
  std::vector<Byte> data;
  OSStatus status;
  std::vector<Notice> notices;
  std::function<void(ProbeUnit&)> before = nullptr;
  std::function<void(ProbeUnit&)> check = nullptr;
  bool layouts = false;
};

void Initialize(ProbeUnit& unit) { ASSERT_EQ(unit.DoInitialize(), noErr); }

void RunWrites(const std::vector<WriteCase>& cases) {
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.layouts);
    if (c.before) c.before(*f.unit);
    f.log.notices.clear();
    EXPECT_EQ(WriteProperty(*f.unit, c.id, c.scope, c.element, c.data), c.status);
    EXPECT_EQ(f.log.notices, c.notices);
    if (c.check) c.check(*f.unit);
  }
}

const Notice FormatNotice(AudioUnitScope scope, AudioUnitElement element) {
  return {kAudioUnitProperty_StreamFormat, scope, element};
}

TEST(PropertyWrite, StreamFormatsAndSampleRates) {
  const Float64 rate = 96000.0;
  auto inputRate = [](Float64 expected) {
    return [expected](ProbeUnit& u) { EXPECT_EQ(u.GetInput(0)->GetStreamFormat().mSampleRate, expected); };
  };
  RunWrites({
      {"rate of 4 bytes", kAudioUnitProperty_SampleRate, I, 0, BytesOf(rate, 4), kValue, {}, nullptr, inputRate(44100.0)},
      {"rate of 16 bytes", kAudioUnitProperty_SampleRate, I, 0, BytesOf(rate, 16), kValue, {}},
      {"rate of a missing input", kAudioUnitProperty_SampleRate, I, 1, BytesOf(rate), kElement, {}},
      {"rate of a missing part", kAudioUnitProperty_SampleRate, Prt, 0, BytesOf(rate), kElement, {}},
      {"rate of the group element", kAudioUnitProperty_SampleRate, Grp, 0, BytesOf(rate), kScope, {}},
      {"rate in scope 5", kAudioUnitProperty_SampleRate, 5, 0, BytesOf(rate), kScope, {}},
      {"new rate", kAudioUnitProperty_SampleRate, I, 0, BytesOf(rate), noErr, {FormatNotice(I, 0)}, nullptr,
       inputRate(rate)},
      {"same rate", kAudioUnitProperty_SampleRate, I, 0, BytesOf(44100.0), noErr, {}},
      {"rate 0 matches any", kAudioUnitProperty_SampleRate, I, 0, BytesOf(0.0), noErr, {}, nullptr, inputRate(44100.0)},
      {"new rate initialized", kAudioUnitProperty_SampleRate, I, 0, BytesOf(rate), kAudioUnitErr_PropertyNotWritable,
       {}, Initialize, inputRate(44100.0)},
      {"global rate goes to output 0", kAudioUnitProperty_SampleRate, G, 0, BytesOf(rate), noErr,
       {FormatNotice(G, 0)}, nullptr,
       [](ProbeUnit& u) { EXPECT_EQ(u.GetOutput(0)->GetStreamFormat().mSampleRate, 96000.0); }},

      {"format of 35 bytes", kAudioUnitProperty_StreamFormat, I, 0, Format(4, rate, 35), kValue, {}},
      {"format of 36 bytes", kAudioUnitProperty_StreamFormat, I, 0, Format(4, rate, 36), noErr, {FormatNotice(I, 0)},
       nullptr, [](ProbeUnit& u) { EXPECT_EQ(u.GetInput(0)->GetStreamFormat().NumberChannels(), 4u); }},
      {"format of a missing output", kAudioUnitProperty_StreamFormat, O, 2, Format(4, rate), kElement, {}},
      {"format in scope 5", kAudioUnitProperty_StreamFormat, 5, 0, Format(4, rate), kScope, {}},
      {"interleaved format", kAudioUnitProperty_StreamFormat, O, 0,
       BytesOf<AudioStreamBasicDescription>(CAStreamBasicDescription(44100.0, kAudioFormatLinearPCM, 8, 1, 8, 2, 32,
                                                                     kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked)),
       kAudioUnitErr_FormatNotSupported, {}},
      {"equal format while initialized", kAudioUnitProperty_StreamFormat, O, 0, Format(2, 0.0), noErr, {}, Initialize},
      {"new format while initialized", kAudioUnitProperty_StreamFormat, O, 0, Format(1, rate),
       kAudioUnitErr_PropertyNotWritable, {}, Initialize},
  });
}

TEST(PropertyWrite, FormatWriteDropsTheReservedWord) {
  Fixture f;
  CAStreamBasicDescription format = CanonicalTestFormat(1, 22050.0);
  format.mReserved = 0xBADu;
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_StreamFormat, O, 0, BytesOf<AudioStreamBasicDescription>(format)),
            noErr);
  EXPECT_EQ(f.unit->GetOutput(0)->GetStreamFormat().mReserved, 0u);
  EXPECT_EQ(f.unit->GetOutput(0)->GetStreamFormat().mSampleRate, 22050.0);
}

TEST(PropertyWrite, CountsFramesAndExternalMemory) {
  auto elements = [](UInt32 n) {
    return [n](ProbeUnit& u) { EXPECT_EQ(u.Outputs().GetNumberOfElements(), n); };
  };
  auto writableCounts = [](ProbeUnit& u) { u.busCountWritable = true; };
  auto frames = [](UInt32 n) {
    return [n](ProbeUnit& u) { EXPECT_EQ(u.GetMaxFramesPerSlice(), n); };
  };
  const Notice framesNotice{kAudioUnitProperty_MaximumFramesPerSlice, G, 0};

  // An external block the unit may take: aligned, and larger than its own.
  alignas(16) static Byte block[16 * 4096];
  auto external = [](Byte* address, UInt32 size) { return BytesOf(AudioUnitExternalBuffer{address, size}); };
  auto outputFrames = [](UInt32 n) {
    return [n](ProbeUnit& u) { EXPECT_EQ(u.GetOutput(0)->GetIOBuffer().GetAllocatedFrames(), n); };
  };

  RunWrites({
      {"count of 8 bytes", kAudioUnitProperty_ElementCount, O, 0, BytesOf(UInt64{2}), kValue, {}},
      {"count not writable", kAudioUnitProperty_ElementCount, O, 0, Word(2), kAudioUnitErr_PropertyNotWritable, {},
       nullptr, elements(1)},
      {"count", kAudioUnitProperty_ElementCount, O, 0, Word(3), noErr,
       {{kAudioUnitProperty_ElementCount, O, 0}}, writableCounts, elements(3)},
      {"count while initialized", kAudioUnitProperty_ElementCount, O, 0, Word(3), kAudioUnitErr_Initialized, {},
       [](ProbeUnit& u) {
         u.busCountWritable = true;
         Initialize(u);
       },
       elements(1)},

      {"frames of 2 bytes", kAudioUnitProperty_MaximumFramesPerSlice, G, 0, BytesOf(UInt16{512}), kValue, {}},
      {"frames", kAudioUnitProperty_MaximumFramesPerSlice, G, 0, Word(512), noErr, {framesNotice}, nullptr, frames(512)},
      {"frames while initialized", kAudioUnitProperty_MaximumFramesPerSlice, G, 0, Word(512),
       kAudioUnitErr_Initialized, {}, Initialize, frames(1156)},

      {"external block of 8 bytes", kAudioUnitProperty_SetExternalBuffer, O, 0, BytesOf(AudioUnitExternalBuffer{block, 4096}, 8), kValue, {}},
      {"external block uninitialized", kAudioUnitProperty_SetExternalBuffer, O, 0, external(block, sizeof block),
       kAudioUnitErr_Uninitialized, {}},
      {"external block misaligned", kAudioUnitProperty_SetExternalBuffer, O, 0, external(block + 8, 4096), paramErr,
       {}, Initialize, outputFrames(1156)},
      {"external block for a missing output", kAudioUnitProperty_SetExternalBuffer, O, 1,
       external(block, sizeof block), kElement, {}, Initialize},
      {"external block for a missing input", kAudioUnitProperty_SetExternalBuffer, I, 1,
       external(block, sizeof block), kElement, {}, Initialize},
      // 65536 bytes over 2 streams of 4-byte frames.
      {"external block", kAudioUnitProperty_SetExternalBuffer, O, 0, external(block, sizeof block), noErr, {},
       Initialize, outputFrames(8192)},
      {"external block too small is ignored", kAudioUnitProperty_SetExternalBuffer, O, 0, external(block, 1024), noErr,
       {}, Initialize, outputFrames(1156)},
  });
}

TEST(PropertyWrite, SourcesAndSavedStateGoToTheirHooks) {
  const AudioUnitConnection connection{reinterpret_cast<AudioUnit>(0x1000), 1, 0};
  int refCon = 0;
  const AURenderCallbackStruct callback{&Thunk, &refCon};
  CFRef<CFDictionaryRef> state = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));

  RunWrites({
      {"connection of 12 bytes", kAudioUnitProperty_MakeConnection, I, 0, BytesOf(connection, 12), kValue, {},
       nullptr, [](ProbeUnit& u) { EXPECT_TRUE(u.connections.empty()); }},
      {"connection", kAudioUnitProperty_MakeConnection, I, 0, BytesOf(connection), noErr, {}, nullptr,
       [](ProbeUnit& u) {
         ASSERT_EQ(u.connections.size(), 1u);
         EXPECT_EQ(u.connections[0].sourceOutputNumber, 1u);
       }},
      {"callback of 8 bytes", kAudioUnitProperty_SetRenderCallback, I, 0, BytesOf(callback, 8), kValue, {}},
      {"callback", kAudioUnitProperty_SetRenderCallback, I, 2, BytesOf(callback), noErr, {}, nullptr,
       [&](ProbeUnit& u) {
         ASSERT_EQ(u.callbacks.size(), 1u);
         EXPECT_EQ(u.callbacks[0].id, kAudioUnitProperty_SetRenderCallback);
         EXPECT_EQ(u.callbacks[0].element, 2u);
         EXPECT_EQ(u.callbacks[0].proc, &Thunk);
         EXPECT_EQ(u.callbacks[0].refCon, &refCon);
       }},
      {"state of 4 bytes", kAudioUnitProperty_ClassInfo, G, 0, BytesOf(state.get(), 4), kValue, {}},
      {"state on input", kAudioUnitProperty_ClassInfo, I, 0, BytesOf(state.get()), kScope, {}, nullptr,
       [](ProbeUnit& u) { EXPECT_TRUE(u.restored.empty()); }},
      {"state", kAudioUnitProperty_ClassInfo, G, 0, BytesOf(state.get()), -7, {},
       [](ProbeUnit& u) { u.restoreStatus = -7; },
       [&](ProbeUnit& u) {
         ASSERT_EQ(u.restored.size(), 1u);
         EXPECT_EQ(u.restored[0], state.get());
       }},
  });
}

TEST(PropertyWrite, NamesPresetsAndSubclassProperties) {
  CFRef<CFStringRef> name =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "Bus A", kCFStringEncodingUTF8));
  const Notice contextNotice{kAudioUnitProperty_ContextName, G, 0};
  const Notice presentNotice{kAudioUnitProperty_PresentPreset, G, 0};
  const Notice currentNotice{kAudioUnitProperty_CurrentPreset, G, 0};
  auto preset = [](SInt32 number, CFStringRef presetName) { return BytesOf(AUPreset{number, presetName}); };
  auto currentIs = [](SInt32 number, std::string text) {
    return [number, text](ProbeUnit& u) {
      EXPECT_EQ(u.GetCurrentPreset().presetNumber, number);
      EXPECT_STREQ(CFStringGetCStringPtr(u.GetCurrentPreset().presetName, kCFStringEncodingUTF8), text.c_str());
    };
  };
  auto nameOf = [](AudioUnitScope scope, AudioUnitElement element, CFStringRef expected) {
    return [=](ProbeUnit& u) { EXPECT_EQ(u.GetElement(scope, element)->GetName(), expected); };
  };

  RunWrites({
      {"context name of 4 bytes", kAudioUnitProperty_ContextName, G, 0, BytesOf(name.get(), 4), kValue, {}},
      {"context name on output", kAudioUnitProperty_ContextName, O, 0, BytesOf(name.get()), kScope, {}},
      {"context name", kAudioUnitProperty_ContextName, G, 0, BytesOf(name.get()), noErr, {contextNotice}},
      {"no context name", kAudioUnitProperty_ContextName, G, 0, BytesOf<CFStringRef>(nullptr), noErr,
       {contextNotice}},

      {"preset of 8 bytes", kAudioUnitProperty_PresentPreset, G, 0, BytesOf(AUPreset{-1, name.get()}, 8), kValue, {}},
      {"preset on output", kAudioUnitProperty_PresentPreset, O, 0, preset(-1, name.get()), kScope, {}},
      {"user preset", kAudioUnitProperty_PresentPreset, G, 0, preset(-1, name.get()), noErr, {presentNotice}, nullptr,
       currentIs(-1, "Bus A")},
      {"user preset, current", kAudioUnitProperty_CurrentPreset, G, 0, preset(-3, name.get()), noErr,
       {currentNotice}, nullptr, currentIs(-3, "Bus A")},
      {"user preset without a name", kAudioUnitProperty_PresentPreset, G, 0, preset(-1, nullptr), kValue, {},
       nullptr, currentIs(-1, "Untitled")},
      {"factory preset", kAudioUnitProperty_PresentPreset, G, 0, preset(2, nullptr), noErr, {presentNotice}, nullptr,
       [](ProbeUnit& u) { EXPECT_EQ(u.factoryPresetsAsked, std::vector<SInt32>{2}); }},
      {"factory preset refused", kAudioUnitProperty_CurrentPreset, G, 0, preset(9, nullptr),
       kAudioUnitErr_InvalidProperty, {}, [](ProbeUnit& u) { u.factoryPresetStatus = kAudioUnitErr_InvalidProperty; }},

      // The element is looked for before the size is checked.
      {"name of a missing input, bad size", kAudioUnitProperty_ElementName, I, 1, BytesOf(name.get(), 3), kElement, {}},
      {"name in scope 5", kAudioUnitProperty_ElementName, 5, 0, BytesOf(name.get()), kScope, {}},
      {"name of 4 bytes", kAudioUnitProperty_ElementName, I, 0, BytesOf(name.get(), 4), kValue, {}, nullptr,
       nameOf(I, 0, nullptr)},
      {"name of the group element", kAudioUnitProperty_ElementName, Grp, 0, BytesOf(name.get()), noErr,
       {{kAudioUnitProperty_ElementName, Grp, 0}}, nullptr, nameOf(Grp, 0, name.get())},

      {"subclass property", kProbeProperty, O, 4, Word(1), noErr, {{kProbeProperty, O, 4}}},
      {"subclass property refused", kProbeProperty, O, 4, Word(1), -3, {},
       [](ProbeUnit& u) { u.probeSetStatus = -3; }},
      {"unknown property", 1000, G, 0, Word(1), kAudioUnitErr_InvalidProperty, {}},
  });
  EXPECT_EQ(CFGetRetainCount(name.get()), 1);  // every unit let go of it
}

TEST(PropertyWrite, ContextNameKeepsOneReference) {
  Fixture f;
  CFRef<CFStringRef> first =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "one", kCFStringEncodingUTF8));
  CFRef<CFStringRef> second =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "two", kCFStringEncodingUTF8));
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(first.get())), noErr);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(first.get())), noErr);
  EXPECT_EQ(CFGetRetainCount(first.get()), 2);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(second.get())), noErr);
  EXPECT_EQ(CFGetRetainCount(first.get()), 1);
  EXPECT_EQ(CFGetRetainCount(second.get()), 2);
  f.unit.reset();  // the destructor lets go of the last one
  EXPECT_EQ(CFGetRetainCount(second.get()), 1);
}

TEST(PropertyWrite, StoringTheHeldValueAgainKeepsItAlive) {
  Fixture f;
  // The units' references are the only ones left.
  CFStringRef context = CFStringCreateWithCString(nullptr, "ctx", kCFStringEncodingUTF8);
  CFStringRef preset = CFStringCreateWithCString(nullptr, "pre", kCFStringEncodingUTF8);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(context)), noErr);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_PresentPreset, G, 0, BytesOf(AUPreset{-1, preset})), noErr);
  CFRelease(context);
  CFRelease(preset);

  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_ContextName, G, 0, BytesOf(context)), noErr);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_PresentPreset, G, 0, BytesOf(AUPreset{-1, preset})), noErr);
  EXPECT_EQ(CFGetRetainCount(context), 1);
  EXPECT_EQ(CFGetRetainCount(preset), 1);
  EXPECT_STREQ(CFStringGetCStringPtr(f.unit->GetCurrentPreset().presetName, kCFStringEncodingUTF8), "pre");
}

TEST(PropertyWrite, UserPresetNameIsHeldOnceAndReleasedOnReplacement) {
  Fixture f;
  CFRef<CFStringRef> name =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "Warm", kCFStringEncodingUTF8));
  const auto bytes = BytesOf(AUPreset{-1, name.get()});
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_PresentPreset, G, 0, bytes), noErr);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_CurrentPreset, G, 0, bytes), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 2);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_PresentPreset, G, 0, BytesOf(AUPreset{-1, CFSTR("Cold")})),
            noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), 1);
}

TEST(PropertyWrite, HostCallbackBlock) {
  int anchor[4] = {};
  const HostCallbackInfo full{&anchor[0], &anchor[1], &anchor[2], &anchor[3]};
  const Notice notice{kAudioUnitProperty_HostCallbacks, G, 0};
  auto blockIs = [](HostCallbackInfo expected) {
    return [expected](ProbeUnit& u) {
      const auto read = ReadAs<HostCallbackInfo>(u, kAudioUnitProperty_HostCallbacks);
      EXPECT_EQ(std::memcmp(&read, &expected, sizeof read), 0);
    };
  };
  auto storeFull = [full](ProbeUnit& u) {
    ASSERT_EQ(WriteProperty(u, kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(full)), noErr);
  };
  std::vector<Byte> oversized = BytesOf(full, 40);
  std::fill(oversized.begin() + 32, oversized.end(), Byte{0xEE});

  RunWrites({
      {"on input", kAudioUnitProperty_HostCallbacks, I, 0, BytesOf(full), kScope, {}},
      {"whole block", kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(full), noErr, {notice}, nullptr, blockIs(full)},
      {"same block again", kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(full), noErr, {}, storeFull, blockIs(full)},
      {"first two pointers", kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(full, 16), noErr, {notice}, nullptr,
       blockIs({&anchor[0], &anchor[1], nullptr, nullptr})},
      // The compared bytes match, so no notice, but the rest is still cleared.
      {"a matching prefix", kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(full, 8), noErr, {}, storeFull,
       blockIs({&anchor[0], nullptr, nullptr, nullptr})},
      {"more than a block", kAudioUnitProperty_HostCallbacks, G, 0, oversized, noErr, {notice}, nullptr, blockIs(full)},
      {"one byte", kAudioUnitProperty_HostCallbacks, G, 0, std::vector<Byte>{1}, noErr, {notice}, nullptr,
       blockIs({reinterpret_cast<void*>(1), nullptr, nullptr, nullptr})},
  });
}

// ---- removal ------------------------------------------------------------------------------------

TEST(PropertyRemove, Rows) {
  struct Case {
    const char* what;
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    AudioUnitElement element;
    OSStatus status;
    std::vector<Notice> notices;
    std::function<void(ProbeUnit&)> before = nullptr;
    bool layouts = false;
  };
  int anchor = 0;
  auto storeCallbacks = [&](ProbeUnit& u) {
    ASSERT_EQ(WriteProperty(u, kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(HostCallbackInfo{&anchor, nullptr, nullptr, nullptr})), noErr);
  };
  auto storeLayout = [](ProbeUnit& u) { u.LayoutBus()->layout = Layout(kStereoTag); };
  const Notice layoutNotice{kAudioUnitProperty_AudioChannelLayout, O, 0};

  const Case cases[] = {
      {"layout of output without one", kAudioUnitProperty_AudioChannelLayout, O, 0, noErr, {layoutNotice}},
      {"layout of global", kAudioUnitProperty_AudioChannelLayout, G, 0, kElement, {}},
      {"layout of missing output", kAudioUnitProperty_AudioChannelLayout, O, 1, kElement, {}},
      {"layout in scope 5", kAudioUnitProperty_AudioChannelLayout, 5, 0, kScope, {}},
      {"layout held by the bus", kAudioUnitProperty_AudioChannelLayout, O, 0, noErr, {layoutNotice}, storeLayout, true},
      {"context name, any scope", kAudioUnitProperty_ContextName, 9, 3, noErr, {}},
      {"empty host callbacks", kAudioUnitProperty_HostCallbacks, G, 0, noErr, {}},
      {"host callbacks", kAudioUnitProperty_HostCallbacks, G, 0, noErr,
       {{kAudioUnitProperty_HostCallbacks, G, 0}}, storeCallbacks},
      {"host callbacks on output", kAudioUnitProperty_HostCallbacks, O, 0, kScope, {}, storeCallbacks},
      {"unknown property", 1000, G, 0, kAudioUnitErr_InvalidPropertyValue, {}},
      {"subclass property", kProbeProperty, G, 0, noErr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.layouts);
    if (c.before) c.before(*f.unit);
    f.log.notices.clear();
    EXPECT_EQ(RemoveProperty(*f.unit, c.id, c.scope, c.element), c.status);
    EXPECT_EQ(f.log.notices, c.notices);
  }
}

TEST(PropertyRemove, ClearedValuesAreGone) {
  Fixture f(true);
  int anchor = 0;
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_HostCallbacks, G, 0, BytesOf(HostCallbackInfo{&anchor, nullptr, nullptr, nullptr})), noErr);
  ASSERT_EQ(RemoveProperty(*f.unit, kAudioUnitProperty_HostCallbacks, G, 0), noErr);
  const auto read = ReadAs<HostCallbackInfo>(*f.unit, kAudioUnitProperty_HostCallbacks);
  EXPECT_EQ(read.hostUserData, nullptr);

  LayoutOutput* bus = f.unit->LayoutBus();
  bus->layout = Layout(kStereoTag);
  ASSERT_EQ(RemoveProperty(*f.unit, kAudioUnitProperty_AudioChannelLayout, O, 0), noErr);
  EXPECT_EQ(bus->removeCalls, 1);
  EXPECT_TRUE(bus->layout.empty());
  // Nothing left to remove: the bus is not asked again.
  ASSERT_EQ(RemoveProperty(*f.unit, kAudioUnitProperty_AudioChannelLayout, O, 0), noErr);
  EXPECT_EQ(bus->removeCalls, 1);
}

// ---- channel layouts ------------------------------------------------------------------------------

TEST(PropertyWrite, ChannelLayouts) {
  const Notice notice{kAudioUnitProperty_AudioChannelLayout, O, 0};
  auto busTakes = [](std::vector<AudioChannelLayoutTag> tags) {
    return [tags](ProbeUnit& u) { u.LayoutBus()->tags = tags; };
  };
  auto busSetCalls = [](int n) { return [n](ProbeUnit& u) { EXPECT_EQ(u.LayoutBus()->setCalls, n); }; };
  // Counts whose 32-bit byte size wraps round to 16.
  constexpr UInt32 kWrappingCount = 0xCCCCCCCDu;

  std::vector<WriteCase> cases = {
      // Plain buses: a matching count still finds no tags.
      {"8 bytes", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kStereoTag, 0, 0, 8), kValue, {}},
      {"a description missing", kAudioUnitProperty_AudioChannelLayout, O, 0,
       Layout(kAudioChannelLayoutTag_UseChannelDescriptions, 0, 2, 32), kValue, {}},
      {"count mismatch", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kQuadTag), kValue, {}},
      {"count match, no tags", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kStereoTag),
       kAudioUnitErr_InvalidProperty, {}},
      {"on the global element", kAudioUnitProperty_AudioChannelLayout, G, 0, Layout(kStereoTag), kElement, {}},
      {"in scope 5", kAudioUnitProperty_AudioChannelLayout, 5, 0, Layout(kStereoTag), kScope, {}},
  };
  std::vector<WriteCase> layoutCases = {
      {"listed tag", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kStereoTag), noErr, {notice},
       busTakes({kQuadTag, kStereoTag}), busSetCalls(1)},
      {"unlisted tag", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kStereoTag), kValue, {},
       busTakes({kQuadTag, kAudioChannelLayoutTag_UseChannelBitmap}), busSetCalls(0)},
      {"bitmap tag counts bits", kAudioUnitProperty_AudioChannelLayout, O, 0,
       Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x3), noErr, {notice},
       busTakes({kAudioChannelLayoutTag_UseChannelBitmap}), busSetCalls(1)},
      {"descriptions tag takes anything", kAudioUnitProperty_AudioChannelLayout, O, 0,
       Layout(kAudioChannelLayoutTag_UseChannelDescriptions, 0, 2), noErr, {notice},
       busTakes({kQuadTag, kAudioChannelLayoutTag_UseChannelDescriptions}), busSetCalls(1)},
      {"count mismatch on a taking bus", kAudioUnitProperty_AudioChannelLayout, O, 0, Layout(kQuadTag), kValue, {},
       busTakes({kQuadTag}), busSetCalls(0)},
      // A size computed in 32 bits would pass; the bus would then read far
      // past the caller's record.
      {"wrapping description count", kAudioUnitProperty_AudioChannelLayout, O, 0,
       Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x3, kWrappingCount, 16), kValue, {},
       busTakes({kAudioChannelLayoutTag_UseChannelBitmap}), busSetCalls(0)},
  };
  for (WriteCase& c : layoutCases) {
    c.layouts = true;
    cases.push_back(std::move(c));
  }
  RunWrites(cases);
}

TEST(PropertyWrite, AcceptedLayoutReachesTheBusIntact) {
  Fixture f(true);
  f.unit->LayoutBus()->tags = {kAudioChannelLayoutTag_UseChannelDescriptions};
  std::vector<Byte> layout = Layout(kAudioChannelLayoutTag_UseChannelDescriptions, 0, 2);
  for (size_t i = 12; i < layout.size(); ++i) layout[i] = static_cast<Byte>(i);
  ASSERT_EQ(WriteProperty(*f.unit, kAudioUnitProperty_AudioChannelLayout, O, 0, layout), noErr);
  EXPECT_EQ(f.unit->LayoutBus()->layout, layout);

  std::vector<Byte> read;
  ASSERT_EQ(ReadProperty(*f.unit, kAudioUnitProperty_AudioChannelLayout, O, 0, read), noErr);
  EXPECT_EQ(read, layout);
}

}  // namespace
