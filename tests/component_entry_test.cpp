// The component entry: argument blocks as a host packs them, open and close,
// every audio-unit selector, capability queries and failure conversion.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "framework/AUFastDispatch.h"
#include "framework/ComponentEntryPoint.h"

namespace {

intptr_t ToWord(std::nullptr_t) { return 0; }
template <class T>
intptr_t ToWord(T* p) { return reinterpret_cast<intptr_t>(p); }
intptr_t ToWord(int v) { return v; }
intptr_t ToWord(UInt32 v) { return static_cast<intptr_t>(v); }
intptr_t ToWord(Float32 v) { return static_cast<intptr_t>(std::bit_cast<UInt32>(v)); }
// A 32-bit argument whose word carries junk above it.
struct Junked { UInt32 v; };
intptr_t ToWord(Junked j) { return static_cast<intptr_t>(0x5A5A5A5A00000000ULL | j.v); }

// A host's argument block: arguments in call order, stored last first, in a
// heap block of exactly the bytes they need, so a read past it shows under
// the address sanitizer.
class ArgBlock {
 public:
  template <class... Args>
  explicit ArgBlock(SInt16 what, Args... args) : ArgBlock(what, std::vector<intptr_t>{ToWord(args)...}, 0) {}
  // A block of count dummy words, for a selector that needs more.
  static ArgBlock Short(SInt16 what, unsigned count) {
    return ArgBlock(what, std::vector<intptr_t>(count, 0), 0);
  }
  ComponentParameters* get() { return reinterpret_cast<ComponentParameters*>(mBytes.get()); }

 private:
  ArgBlock(SInt16 what, std::vector<intptr_t> words, int)
      : mBytes(new std::byte[8 + 8 * words.size()]) {
    const ComponentParameters header{0, static_cast<UInt8>(8 * words.size()), what, 0, {}};
    std::memcpy(mBytes.get(), &header, 8);
    for (size_t i = 0; i < words.size(); ++i)
      std::memcpy(mBytes.get() + 8 + 8 * i, &words[words.size() - 1 - i], 8);
  }
  std::unique_ptr<std::byte[]> mBytes;
};

constexpr AudioUnitPropertyID kValueProp = 64000;  // 40 bytes: 1, 2, ... 40
constexpr AudioUnitPropertyID kEchoProp = 64001;   // 16 bytes: reads input, writes input + 1
constexpr AudioUnitPropertyID kFailProp = 64002;   // reads fail
constexpr AudioUnitPropertyID kThrowProp = 64003;  // 4096 bytes, reads throw
constexpr OSStatus kVersion = 0x00020001;

struct Lifecycle { int constructed = 0, destroyed = 0, postConstructed = 0, preDestructed = 0; };
Lifecycle gLife;
std::function<void()> gConstructorHook, gPostConstructorHook;

class EntryUnit : public AUBase {
 public:
  explicit EntryUnit(ComponentInstance instance) : AUBase(instance, 1, 1) {
    if (gConstructorHook) gConstructorHook();
    ++gLife.constructed;
  }
  ~EntryUnit() override { ++gLife.destroyed; }
  void PostConstructor() override {
    AUBase::PostConstructor();
    ++gLife.postConstructed;
    if (gPostConstructorHook) gPostConstructorHook();
  }
  void PreDestructor() override { ++gLife.preDestructed; AUBase::PreDestructor(); }
  OSStatus Version() override { return kVersion; }
  bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override { return true; }
  using AUBase::SetAudioUnitAPIVersion;

  OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e,
                           UInt32& size, Boolean& writable) override {
    ++infoCalls;
    const std::map<AudioUnitPropertyID, UInt32> sizes{
        {kValueProp, 40}, {kEchoProp, 16}, {kFailProp, 8}, {kThrowProp, 4096}};
    if (!sizes.contains(id)) return AUBase::GetPropertyInfo(id, s, e, size, writable);
    size = sizes.at(id);
    writable = id == kEchoProp;
    return noErr;
  }
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope s, AudioUnitElement e,
                       void* data) override {
    auto* bytes = static_cast<Byte*>(data);
    switch (id) {
      case kValueProp: for (int i = 0; i < 40; ++i) bytes[i] = Byte(i + 1); return noErr;
      case kEchoProp:
        std::memcpy(echoSeen, bytes, 16);
        for (int i = 0; i < 16; ++i) ++bytes[i];
        return noErr;
      case kFailProp: return kAudioUnitErr_InvalidPropertyValue;
      case kThrowProp: throw OSStatus(kAudioUnitErr_InvalidElement);
      default: return AUBase::GetProperty(id, s, e, data);
    }
  }
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, const void* data,
                       UInt32 size) override {
    calls.push_back({"set", id, reinterpret_cast<intptr_t>(data), size});
    return noErr;
  }
  OSStatus RemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope s,
                               AudioUnitElement e) override {
    calls.push_back({"remove", id, s, e});
    return noErr;
  }
  OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope s, AudioUnitElement e,
                        AudioUnitParameterValue& v) override {
    if (thrower) thrower();
    return AUBase::GetParameter(id, s, e, v);
  }
  OSStatus Reset(AudioUnitScope s, AudioUnitElement e) override {
    calls.push_back({"reset", s, e, GetLastRenderedSampleTime() == kNoLastRenderedSampleTime});
    return noErr;
  }
  OSStatus AddPropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                               void* refCon) override {
    calls.push_back({"addListener", id, ToWord(proc), ToWord(refCon)});
    return noErr;
  }
  OSStatus RemovePropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                  void* refCon, bool refConSpecified) override {
    calls.push_back({"removeListener", id, ToWord(proc), ToWord(refCon), refConSpecified});
    return noErr;
  }
  OSStatus SetRenderNotification(AURenderCallback proc, void* refCon) override {
    calls.push_back({"addNotify", 0, ToWord(proc), ToWord(refCon)});
    return noErr;
  }
  OSStatus RemoveRenderNotification(AURenderCallback proc, void* refCon) override {
    calls.push_back({"removeNotify", 0, ToWord(proc), ToWord(refCon)});
    return noErr;
  }
  OSStatus ScheduleParameter(const AudioUnitParameterEvent* events, UInt32 count) override {
    calls.push_back({"schedule", count, ToWord(events)});
    return noErr;
  }
  OSStatus Initialize() override { return initializeResult; }
  OSStatus Render(AudioUnitRenderActionFlags& flags, const AudioTimeStamp&, UInt32) override {
    renderFlagsSeen.push_back(flags);
    flags |= kAudioUnitRenderAction_OutputIsSilence;
    return noErr;
  }

  struct Call {
    std::string what;
    intptr_t a = 0, b = 0, c = 0, d = 0;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;
  int infoCalls = 0;
  Byte echoSeen[16] = {};
  OSStatus initializeResult = noErr;
  std::function<void()> thrower;
  std::vector<AudioUnitRenderActionFlags> renderFlagsSeen;
};

using Entry = ComponentEntryPoint<EntryUnit>;

// The instance storage the loader will keep; here a map in the test.
std::map<ComponentInstance, void*> gStorage;
const AudioUnitHostOps kHostOps{
    nullptr, nullptr,
    [](ComponentInstance i) { return gStorage.contains(i) ? gStorage[i] : nullptr; },
    [](ComponentInstance i, void* s) { gStorage[i] = s; return OSStatus(noErr); },
    nullptr};

ComponentInstance Instance(int n) { return reinterpret_cast<ComponentInstance>(intptr_t(0x1000 * n)); }

class ComponentEntry : public testing::Test {
 protected:
  void SetUp() override {
    gLife = {};
    gStorage.clear();
    gConstructorHook = gPostConstructorHook = nullptr;
    previousOps = SetAudioUnitHostOps(&kHostOps);
    EXPECT_EQ(Call(kComponentOpenSelect, nullptr, Instance(1)), noErr);
    unit = static_cast<EntryUnit*>(gStorage.at(Instance(1)));
  }
  void TearDown() override {
    if (unit != nullptr) {
      EXPECT_EQ(Call(kComponentCloseSelect, unit, Instance(1)), noErr);
    }
    SetAudioUnitHostOps(previousOps);
  }
  template <class... Args>
  OSStatus Call(SInt16 what, EntryUnit* storage, Args... args) {
    ArgBlock block(what, args...);
    return Entry::Dispatch(block.get(), storage);
  }
  template <class... Args>
  OSStatus Sel(SInt16 what, Args... args) { return Call(what, unit, args...); }

  const AudioUnitHostOps* previousOps = nullptr;
  EntryUnit* unit = nullptr;
};

TEST_F(ComponentEntry, OpenAttachesAndCloseDestroysAfterPreDestructor) {
  EXPECT_EQ(unit->GetComponentInstance(), Instance(1));
  EXPECT_EQ(gLife.constructed, 1);
  EXPECT_EQ(gLife.postConstructed, 1);
  EXPECT_NE(unit->GetOutput(0), nullptr);  // PostConstructor made the elements
  EXPECT_EQ(Sel(kComponentVersionSelect), kVersion);
  EXPECT_EQ(Sel(kAudioUnitInitializeSelect), noErr);
  EXPECT_TRUE(unit->IsInitialized());

  EXPECT_EQ(Sel(kComponentCloseSelect, Instance(1)), noErr);
  unit = nullptr;
  EXPECT_EQ(gLife.preDestructed, 1);
  EXPECT_EQ(gLife.destroyed, 1);
}

TEST_F(ComponentEntry, FailedOpenReturnsConvertedStatusRegistersNothingAndLeaksNothing) {
  struct Case { std::function<void()>* hook; std::function<void()> fail; OSStatus expected; };
  const Case cases[] = {
      {&gConstructorHook, [] { throw std::bad_alloc(); }, memFullErr},
      {&gConstructorHook, [] { throw OSStatus(kAudioUnitErr_FailedInitialization); },
       kAudioUnitErr_FailedInitialization},
      {&gPostConstructorHook, [] { throw OSErr(-50); }, paramErr},
      {&gPostConstructorHook, [] { throw std::runtime_error("x"); }, -1},
  };
  for (const Case& c : cases) {
    *c.hook = c.fail;
    const Lifecycle before = gLife;
    EXPECT_EQ(Call(kComponentOpenSelect, nullptr, Instance(2)), c.expected);
    EXPECT_FALSE(gStorage.contains(Instance(2)));
    // A unit that was built is destroyed again.
    EXPECT_EQ(gLife.constructed - before.constructed, gLife.destroyed - before.destroyed);
    *c.hook = nullptr;
  }
  // No table to keep the storage: the new unit cannot be reached, so it goes.
  SetAudioUnitHostOps(nullptr);
  EXPECT_EQ(Call(kComponentOpenSelect, nullptr, Instance(3)), paramErr);
  EXPECT_EQ(gLife.constructed, gLife.destroyed + 1);
  SetAudioUnitHostOps(&kHostOps);
}

TEST_F(ComponentEntry, NullUnitUnknownSelectorsAndShortBlocks) {
  EXPECT_EQ(Entry::Dispatch(nullptr, unit), paramErr);
  for (SInt16 what : {kComponentCloseSelect, kAudioUnitInitializeSelect, kAudioUnitRenderSelect})
    EXPECT_EQ(Call(what, nullptr), paramErr) << what;
  for (int what : {0, 8, 12, 13, 19, 20, -5, 0x7FFF, -0x8000})
    EXPECT_EQ(Sel(SInt16(what)), badComponentSelector) << what;

  // Each selector with one argument too few is refused without reading past the block.
  const std::pair<SInt16, unsigned> needs[] = {
      {kComponentOpenSelect, 1}, {kComponentCanDoSelect, 1}, {3, 5}, {4, 5}, {5, 5}, {6, 4},
      {7, 5}, {9, 2}, {10, 3}, {11, 2}, {14, 5}, {15, 2}, {16, 2}, {17, 2}, {18, 3}};
  for (auto [what, count] : needs) {
    ArgBlock block = ArgBlock::Short(what, count - 1);
    EXPECT_EQ(Entry::Dispatch(block.get(), unit), paramErr) << what;
  }
  EXPECT_TRUE(unit->calls.empty());
}

TEST_F(ComponentEntry, CapabilityQueryFollowsSelectorTableAndApiVersion) {
  for (UInt8 version : {1, 2}) {
    unit->SetAudioUnitAPIVersion(version);
    for (int s = -6; s <= 40; ++s) {
      const bool always = (s >= 1 && s <= 7) || (s >= 9 && s <= 11) || s == 18 || (s >= -4 && s <= -1);
      const bool second = s >= 14 && s <= 17;
      const OSStatus expected = always || (second && version >= 2) ? 1 : 0;
      EXPECT_EQ(Sel(kComponentCanDoSelect, s), expected) << s << " v" << int(version);
      EXPECT_EQ(Sel(kComponentCanDoSelect, Junked{UInt32(s)}), expected) << s;
    }
    EXPECT_EQ(Sel(kComponentCanDoSelect, 0x80000000u), 0);
    EXPECT_EQ(Sel(kAudioUnitScheduleParametersSelect, nullptr, 0),
              version >= 2 ? noErr : badComponentSelector);
  }
}

TEST_F(ComponentEntry, GetPropertyFitsTheCallersBuffer) {
  // Exactly sized heap buffers: writing past them shows under the sanitizer.
  struct Case { UInt32 callerSize; OSStatus result; UInt32 sizeAfter; };
  for (Case c : {Case{4, noErr, 4}, Case{40, noErr, 40}, Case{64, noErr, 40}, Case{0, paramErr, 0}}) {
    std::vector<Byte> buffer(std::max<UInt32>(c.callerSize, 1), 0xEE);
    UInt32 size = c.callerSize;
    const int infoBefore = unit->infoCalls;
    EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kValueProp, 0, 0, buffer.data(), &size), c.result);
    EXPECT_EQ(size, c.sizeAfter);
    for (UInt32 i = 0; i < c.sizeAfter; ++i) ASSERT_EQ(buffer[i], i + 1) << c.callerSize;
    for (UInt32 i = c.sizeAfter; i < c.callerSize; ++i) ASSERT_EQ(buffer[i], 0xEE);
    if (c.callerSize == 0) {
      EXPECT_EQ(unit->infoCalls, infoBefore);  // the unit was never asked
    }
  }

  UInt32 size = 99;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kValueProp, 0, 0, nullptr, &size), noErr);
  EXPECT_EQ(size, 40u);
  Byte byte = 0;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kValueProp, 0, 0, &byte, nullptr), paramErr);
  // A failed size query leaves the caller's size; a failed read zeroes it.
  size = 8;
  Byte eight[8];
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, 64999u, 0, 0, eight, &size),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kFailProp, 0, 0, eight, &size),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(size, 0u);
  // A throw from the read releases the temporary buffer (leak check) and comes back as a status.
  size = 8;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kThrowProp, 0, 0, eight, &size),
            kAudioUnitErr_InvalidElement);
}

TEST_F(ComponentEntry, StreamFormatReadIntoFourBytesGetsItsHead) {
  AudioStreamBasicDescription format{};
  UInt32 size = sizeof format;
  ASSERT_EQ(Sel(kAudioUnitGetPropertySelect, kAudioUnitProperty_StreamFormat,
                kAudioUnitScope_Output, 0, &format, &size), noErr);
  ASSERT_EQ(size, 40u);
  auto head = std::make_unique<Byte[]>(4);
  std::memset(head.get(), 0xEE, 4);
  size = 4;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kAudioUnitProperty_StreamFormat,
                kAudioUnitScope_Output, 0, head.get(), &size), noErr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(head.get(), &format, 4), 0);
}

TEST_F(ComponentEntry, HandlerSeesCallersInputOnlyInAFullSizedBuffer) {
  Byte full[16];
  std::memset(full, 7, sizeof full);
  UInt32 size = sizeof full;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kEchoProp, 0, 0, full, &size), noErr);
  EXPECT_EQ(unit->echoSeen[15], 7);
  EXPECT_EQ(full[15], 8);

  Byte part[8];
  std::memset(part, 7, sizeof part);
  size = sizeof part;
  EXPECT_EQ(Sel(kAudioUnitGetPropertySelect, kEchoProp, 0, 0, part, &size), noErr);
  EXPECT_EQ(unit->echoSeen[0], 0);  // a fresh, zeroed buffer
  EXPECT_EQ(part[7], 1);
  EXPECT_EQ(size, 8u);
}

TEST_F(ComponentEntry, PropertyInfoAndSetRemoveCombinations) {
  UInt32 size = 0;
  Boolean writable = false;
  EXPECT_EQ(Sel(kAudioUnitGetPropertyInfoSelect, kEchoProp, 0, 0, &size, &writable), noErr);
  EXPECT_EQ(size, 16u);
  EXPECT_TRUE(writable);
  EXPECT_EQ(Sel(kAudioUnitGetPropertyInfoSelect, kValueProp, 0, 0, nullptr, nullptr), noErr);

  int data = 0;
  EXPECT_EQ(Sel(kAudioUnitSetPropertySelect, kEchoProp, 0, 0, &data, 4), noErr);
  EXPECT_EQ(Sel(kAudioUnitSetPropertySelect, kEchoProp, 1, 2, nullptr, 0), noErr);
  EXPECT_EQ(Sel(kAudioUnitSetPropertySelect, kEchoProp, 0, 0, &data, 0), paramErr);
  EXPECT_EQ(Sel(kAudioUnitSetPropertySelect, kEchoProp, 0, 0, nullptr, 4), paramErr);
  const std::vector<EntryUnit::Call> expected{{"set", kEchoProp, ToWord(&data), 4},
                                              {"remove", kEchoProp, 1, 2}};
  EXPECT_EQ(unit->calls, expected);
}

TEST_F(ComponentEntry, ParametersThroughSelectorsAndFastPath) {
  EXPECT_EQ(Sel(kAudioUnitSetParameterSelect, 2, 0, 0, 0.25f, 0), noErr);
  Float32 value = 0;
  EXPECT_EQ(Sel(kAudioUnitGetParameterSelect, 2, 0, 0, &value), noErr);
  EXPECT_EQ(value, 0.25f);
  EXPECT_EQ(Sel(kAudioUnitSetParameterSelect, 2, 0, 0, Junked{std::bit_cast<UInt32>(-3.5f)}, 0),
            noErr);
  EXPECT_EQ(AudioUnitBaseGetParameter(unit, 2, 0, 0, &value), noErr);
  EXPECT_EQ(value, -3.5f);
  EXPECT_EQ(AudioUnitBaseSetParameter(unit, 2, 0, 0, 9.0f, 0), noErr);
  EXPECT_EQ(Sel(kAudioUnitGetParameterSelect, 2, 0, 0, &value), noErr);
  EXPECT_EQ(value, 9.0f);

  EXPECT_EQ(Sel(kAudioUnitGetParameterSelect, 2, 0, 0, nullptr), paramErr);
  EXPECT_EQ(AudioUnitBaseGetParameter(unit, 2, 0, 0, nullptr), paramErr);
  EXPECT_EQ(AudioUnitBaseGetParameter(nullptr, 2, 0, 0, &value), paramErr);
  EXPECT_EQ(AudioUnitBaseSetParameter(nullptr, 2, 0, 0, 1.0f, 0), paramErr);
  EXPECT_EQ(AudioUnitBaseGetParameter(unit, 2, 7, 0, &value), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(AudioUnitBaseSetParameter(unit, 2, 7, 0, 1.0f, 0), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(Sel(kAudioUnitGetParameterSelect, 2, 0, 5, &value), kAudioUnitErr_InvalidElement);
}

TEST_F(ComponentEntry, ThrownFailuresBecomeStatusesOnEveryPath) {
  struct Case { std::function<void()> fail; OSStatus expected; };
  const Case cases[] = {
      {[] { throw OSStatus(kAudioUnitErr_InvalidScope); }, kAudioUnitErr_InvalidScope},
      {[] { throw badComponentSelector; }, badComponentSelector},
      {[] { throw OSErr(-1); }, -1},
      {[] { throw OSErr(-50); }, paramErr},
      {[] { throw OSErr(0x7FFF); }, 0x7FFF},
      {[] { throw std::bad_alloc(); }, memFullErr},
      {[] { throw std::runtime_error("x"); }, -1},
      {[] { throw UInt32(5); }, -1},
  };
  Float32 value = 0;
  for (const Case& c : cases) {
    unit->thrower = c.fail;
    EXPECT_EQ(Sel(kAudioUnitGetParameterSelect, 2, 0, 0, &value), c.expected);
    EXPECT_EQ(AudioUnitBaseGetParameter(unit, 2, 0, 0, &value), c.expected);
  }
  unit->thrower = nullptr;
}

TEST_F(ComponentEntry, ArgumentsReachTheUnitInCallOrder) {
  int refCon = 0;
  const auto listener = +[](void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                            AudioUnitElement) {};
  const auto notify = +[](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                          UInt32, AudioBufferList*) { return OSStatus(noErr); };
  AudioUnitParameterEvent events[3] = {};
  unit->NeedsToRender(512.0);

  EXPECT_EQ(Sel(kAudioUnitResetSelect, 1, 3), noErr);
  EXPECT_EQ(Sel(kAudioUnitAddPropertyListenerSelect, 8, listener, &refCon), noErr);
  EXPECT_EQ(Sel(kAudioUnitRemovePropertyListenerSelect, 8, listener), noErr);
  EXPECT_EQ(Sel(kAudioUnitRemovePropertyListenerWithUserDataSelect, 8, listener, &refCon), noErr);
  EXPECT_EQ(Sel(kAudioUnitAddRenderNotifySelect, notify, &refCon), noErr);
  EXPECT_EQ(Sel(kAudioUnitRemoveRenderNotifySelect, notify, &refCon), noErr);
  EXPECT_EQ(Sel(kAudioUnitScheduleParametersSelect, events, 3), noErr);
  // A count without events is refused rather than read from address zero.
  EXPECT_EQ(Sel(kAudioUnitScheduleParametersSelect, nullptr, 2), paramErr);

  const std::vector<EntryUnit::Call> expected{
      {"reset", 1, 3, true},  // the rendered time was cleared first
      {"addListener", 8, ToWord(listener), ToWord(&refCon)},
      {"removeListener", 8, ToWord(listener), 0, false},
      {"removeListener", 8, ToWord(listener), ToWord(&refCon), true},
      {"addNotify", 0, ToWord(notify), ToWord(&refCon)},
      {"removeNotify", 0, ToWord(notify), ToWord(&refCon)},
      {"schedule", 3, ToWord(events)}};
  EXPECT_EQ(unit->calls, expected);

  EXPECT_EQ(Sel(kAudioUnitUninitializeSelect), noErr);
  unit->initializeResult = kAudioUnitErr_FailedInitialization;
  EXPECT_EQ(Sel(kAudioUnitInitializeSelect), kAudioUnitErr_FailedInitialization);
}

TEST_F(ComponentEntry, RenderRefusesMissingTimeStampOrBuffers) {
  AudioTimeStamp time{};
  AudioBufferList buffers{};
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(Sel(kAudioUnitRenderSelect, &flags, nullptr, 0, 64u, &buffers), paramErr);
  EXPECT_EQ(Sel(kAudioUnitRenderSelect, &flags, &time, 0, 64u, nullptr), paramErr);
  EXPECT_EQ(AudioUnitBaseRender(unit, &flags, nullptr, 0, 64, &buffers), paramErr);
  EXPECT_EQ(AudioUnitBaseRender(unit, &flags, &time, 0, 64, nullptr), paramErr);
  EXPECT_EQ(flags, 0u);
}

TEST_F(ComponentEntry, RenderWithoutFlagsRendersWithAZeroWord) {
  ASSERT_EQ(Sel(kAudioUnitInitializeSelect), noErr);
  const UInt32 streams = unit->GetOutput(0)->GetStreamFormat().NumberChannelStreams();
  std::vector<std::byte> listBytes(AudioBufferListSize(streams));
  auto* list = reinterpret_cast<AudioBufferList*>(listBytes.data());
  std::vector<Float32> samples(64 * streams);
  list->mNumberBuffers = streams;
  for (UInt32 i = 0; i < streams; ++i) list->mBuffers[i] = {1, 64 * 4, &samples[64 * i]};
  AudioTimeStamp time{};
  AudioUnitRenderActionFlags flags = 0;

  EXPECT_EQ(Sel(kAudioUnitRenderSelect, &flags, &time, 0, 64u, list), noErr);
  EXPECT_EQ(flags, kAudioUnitRenderAction_OutputIsSilence);
  time.mSampleTime = 64;
  EXPECT_EQ(Sel(kAudioUnitRenderSelect, nullptr, &time, 0, 64u, list), noErr);
  time.mSampleTime = 128;
  EXPECT_EQ(AudioUnitBaseRender(unit, nullptr, &time, 0, 64, list), noErr);
  EXPECT_EQ(unit->renderFlagsSeen, (std::vector<AudioUnitRenderActionFlags>{0, 0, 0}));
}

}  // namespace
