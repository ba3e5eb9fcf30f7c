#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/PropertyNotices.h"
#include "support/SavedStateSupport.h"

using namespace saved_state_test;

namespace {

// Answers the optional render-quality and CPU-load properties when asked to,
// and records what a restore writes back.
class StateUnit : public TestUnit {
 public:
  using TestUnit::TestUnit;

  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* outData) override {
    if (answersOptional && scope == kAudioUnitScope_Global && element == 0) {
      if (id == kAudioUnitProperty_RenderQuality) {
        std::memcpy(outData, &renderQuality, sizeof renderQuality);
        return noErr;
      }
      if (id == kAudioUnitProperty_CPULoad) {
        std::memcpy(outData, &cpuLoad, sizeof cpuLoad);
        return noErr;
      }
    }
    return TestUnit::GetProperty(id, scope, element, outData);
  }

  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* data, UInt32 size) override {
    if (id == kAudioUnitProperty_RenderQuality || id == kAudioUnitProperty_CPULoad) {
      if (size != 4) return kAudioUnitErr_InvalidPropertyValue;
      UInt32 bits;
      std::memcpy(&bits, data, 4);
      written[id] = bits;
      return acceptsOptional ? noErr : kAudioUnitErr_InvalidProperty;
    }
    return TestUnit::SetProperty(id, scope, element, data, size);
  }

  bool answersOptional = false;
  bool acceptsOptional = true;
  UInt32 renderQuality = 0x7F;
  Float32 cpuLoad = 0.25f;
  std::map<AudioUnitPropertyID, UInt32> written;
};

using StateUnitPtr = std::unique_ptr<StateUnit, TestUnitCloser>;

StateUnitPtr OpenUnit(UInt32 inputs = 1, UInt32 outputs = 1, UInt32 groups = 0,
                      ComponentInstance instance = TestUnit::DefaultInstance()) {
  StateUnitPtr unit(new StateUnit(inputs, outputs, groups, 0, instance));
  unit->PostConstructor();
  return unit;
}

void ListenToStateNotices(AUBase& unit, std::vector<Notice>& notices) {
  for (AudioUnitPropertyID id : {kAudioUnitProperty_CurrentPreset,
                                 kAudioUnitProperty_PresentPreset,
                                 kAudioUnitProperty_ElementCount})
    unit.AddPropertyListener(id, RecordNotice, &notices);
}

CFRef<CFDictionaryRef> Save(AUBase& unit) {
  CFPropertyListRef state = nullptr;
  EXPECT_EQ(unit.SaveState(&state), noErr);
  return CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(state));
}

CFTypeRef Get(CFDictionaryRef dict, const char* key) {
  return CFDictionaryGetValue(dict, Str(key).get());
}

OSStatus Restore(AUBase& unit, CFPropertyListRef state) {
  try {
    return unit.RestoreState(state);
  } catch (OSStatus status) {
    return status;
  }
}

// Everything a restore may change, for "nothing changed" checks.
struct Fingerprint {
  CFRef<CFDictionaryRef> saved;
  SInt32 presetNumber;
  std::vector<UInt32> counts;

  explicit Fingerprint(AUBase& unit)
      : saved(Save(unit)), presetNumber(unit.GetCurrentPreset().presetNumber) {
    for (AudioUnitScope s = 0; s < AUBase::kNumScopes; ++s)
      counts.push_back(unit.GetScope(s).GetNumberOfElements());
  }
  bool operator==(const Fingerprint& other) const {
    return CFEqual(saved.get(), other.saved.get()) && presetNumber == other.presetNumber &&
           counts == other.counts;
  }
};

std::optional<Float32> ParamOf(AUBase& unit, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterID id) {
  try {
    return unit.SafeGetElement(scope, element)->GetParameter(id);
  } catch (OSStatus) {
    return std::nullopt;
  }
}

std::vector<UInt8> Chunk(UInt32 scope, UInt32 element,
                         std::initializer_list<std::pair<UInt32, Float32>> entries) {
  std::vector<UInt8> bytes = Words({scope, element, UInt32(entries.size())});
  for (const auto& [id, value] : entries) {
    const auto entry = Words({id, Bits(value)});
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  return bytes;
}

CFRef<CFMutableDictionaryRef> StateWithData(const std::vector<UInt8>& bytes) {
  CFRef<CFMutableDictionaryRef> state = MinimalState();
  Set(state.get(), "data", Data(bytes).get());
  return state;
}

class SavedStateTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallTestComponentInfo(); }
};

}  // namespace

// ---- saving ---------------------------------------------------------------------

TEST_F(SavedStateTest, ThreeGlobalParametersSaveAsTheThirtySixByteExample) {
  auto unit = OpenUnit();
  unit->Globals()->SetParameter(2, 1.0f);
  unit->Globals()->SetParameter(0, 1000.0f);
  unit->Globals()->SetParameter(1, 0.5f);

  CFRef<CFDictionaryRef> state = Save(*unit);
  const std::vector<UInt8> expected = {
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
      0x00, 0x00, 0x00, 0x00, 0x44, 0x7A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
      0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x3F, 0x80, 0x00, 0x00};
  EXPECT_EQ(BytesOf(Get(state.get(), "data")), expected);

  // The identity words and the name, and nothing optional.
  EXPECT_TRUE(CFEqual(Get(state.get(), "version"), Int(0).get()));
  EXPECT_TRUE(CFEqual(Get(state.get(), "type"), Int(SInt32(kType)).get()));
  EXPECT_TRUE(CFEqual(Get(state.get(), "subtype"), Int(SInt32(kSubtype)).get()));
  EXPECT_TRUE(CFEqual(Get(state.get(), "manufacturer"), Int(SInt32(kManufacturer)).get()));
  EXPECT_EQ(TextOf(Get(state.get(), "name")), "Untitled");
  EXPECT_EQ(CFDictionaryGetCount(state.get()), 6);
}

TEST_F(SavedStateTest, ChunksFollowScopeElementAndParameterOrder) {
  auto unit = OpenUnit(2, 1, 1);
  unit->GetElement(kAudioUnitScope_Output, 0)->SetParameter(4, -1.0f);
  unit->GetElement(kAudioUnitScope_Input, 1)->SetParameter(9, 9.0f);
  unit->GetElement(kAudioUnitScope_Input, 1)->SetParameter(3, 3.0f);
  unit->Globals()->UseIndexedParameters(2);
  unit->Globals()->SetParameter(1, 0.125f);
  // Group parameters are never saved; input 0 has none and gets no chunk.
  unit->GetElement(kAudioUnitScope_Group, 0)->SetParameter(0, 5.0f);

  const auto expected = Concat({Chunk(0, 0, {{0, 0.0f}, {1, 0.125f}}),
                                Chunk(1, 1, {{3, 3.0f}, {9, 9.0f}}), Chunk(2, 0, {{4, -1.0f}})});
  CFRef<CFDictionaryRef> state = Save(*unit);
  EXPECT_EQ(BytesOf(Get(state.get(), "data")), expected);
}

TEST_F(SavedStateTest, UnitWithoutParametersSavesEmptyData) {
  auto unit = OpenUnit();
  CFRef<CFDictionaryRef> state = Save(*unit);
  CFTypeRef data = Get(state.get(), "data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(CFGetTypeID(data), CFDataGetTypeID());
  EXPECT_TRUE(BytesOf(data).empty());
}

TEST_F(SavedStateTest, NamedElementsAreSavedPerScope) {
  auto unit = OpenUnit(2, 1);
  unit->GetElement(kAudioUnitScope_Input, 1)->SetName(Str("Side").get());
  unit->GetElement(kAudioUnitScope_Output, 0)->SetName(Str("Main").get());

  CFRef<CFDictionaryRef> state = Save(*unit);
  CFTypeRef names = Get(state.get(), "element-name");
  ASSERT_NE(names, nullptr);
  const auto dict = static_cast<CFDictionaryRef>(names);
  EXPECT_EQ(CFDictionaryGetCount(dict), 2);
  const auto inputs = static_cast<CFDictionaryRef>(Get(dict, "1"));
  ASSERT_NE(inputs, nullptr);
  EXPECT_EQ(CFDictionaryGetCount(inputs), 1);  // input 0 has no name
  EXPECT_EQ(TextOf(Get(inputs, "1")), "Side");
  EXPECT_EQ(TextOf(Get(static_cast<CFDictionaryRef>(Get(dict, "2")), "0")), "Main");
}

TEST_F(SavedStateTest, OptionalPropertiesAreSavedOnlyWhenAnswered) {
  auto silent = OpenUnit();
  CFRef<CFDictionaryRef> plain = Save(*silent);
  EXPECT_FALSE(CFDictionaryContainsKey(plain.get(), Str("render-quality").get()));
  EXPECT_FALSE(CFDictionaryContainsKey(plain.get(), Str("cpu-load").get()));

  auto answering = OpenUnit();
  answering->answersOptional = true;
  CFRef<CFDictionaryRef> state = Save(*answering);
  EXPECT_TRUE(CFEqual(Get(state.get(), "render-quality"), Int(0x7F).get()));
  const auto load = static_cast<CFNumberRef>(Get(state.get(), "cpu-load"));
  ASSERT_NE(load, nullptr);
  EXPECT_TRUE(CFNumberIsFloatType(load));
  Float32 value = 0;
  EXPECT_TRUE(CFNumberGetValue(load, kCFNumberFloatType, &value));
  EXPECT_EQ(value, 0.25f);
}

TEST_F(SavedStateTest, MissingComponentDescriptionFailsBothWaysWithItsStatus) {
  static int otherToken;
  auto unit = OpenUnit(1, 1, 0, reinterpret_cast<ComponentInstance>(&otherToken));
  unit->Globals()->SetParameter(0, 7.0f);

  CFPropertyListRef state = nullptr;
  EXPECT_EQ(unit->SaveState(&state), OSStatus{kNoDescription});  // sign-extended
  EXPECT_EQ(state, nullptr);

  std::vector<Notice> notices;
  ListenToStateNotices(*unit, notices);
  EXPECT_EQ(Restore(*unit, StateWithData(Chunk(0, 0, {{0, 1.0f}})).get()),
            OSStatus{kNoDescription});
  EXPECT_EQ(ParamOf(*unit, 0, 0, 0), 7.0f);
  EXPECT_TRUE(notices.empty());
}

// ---- restoring: validation --------------------------------------------------------

TEST_F(SavedStateTest, InvalidStatesAreRejectedAndChangeNothing) {
  using Mutation = std::function<void(CFMutableDictionaryRef)>;
  auto remove = [](const char* key) {
    return [key](CFMutableDictionaryRef s) { CFDictionaryRemoveValue(s, Str(key).get()); };
  };
  auto put = [](const char* key, std::function<CFRef<CFTypeRef>()> make) {
    return [key, make](CFMutableDictionaryRef s) { Set(s, key, make().get()); };
  };
  auto number = [](SInt32 v) { return [v] { return AsAny(Int(v)); }; };
  auto text = [](const char* t) { return [t] { return AsAny(Str(t)); }; };
  auto real = [](double v) {
    return [v] { return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &v)); };
  };
  auto bytes = [](std::vector<UInt8> b) { return [b] { return AsAny(Data(b)); }; };
  auto none = [] { return CFRef<CFTypeRef>(); };
  auto yes = [] { return CFRef<CFTypeRef>::Retain(kCFBooleanTrue); };
  // An "element-name" dictionary holding one scope entry built by `entry`.
  auto names = [](const char* scope, std::function<CFRef<CFTypeRef>()> entry) {
    return [scope, entry] {
      CFRef<CFMutableDictionaryRef> d = NewDict();
      Set(d.get(), scope, entry().get());
      return AsAny(d);
    };
  };
  auto entry = [](std::function<CFRef<CFTypeRef>()> key, std::function<CFRef<CFTypeRef>()> value) {
    return [key, value] {
      CFRef<CFMutableDictionaryRef> d = NewDict();
      CFDictionarySetValue(d.get(), key().get(), value().get());
      return AsAny(d);
    };
  };

  const std::vector<std::pair<const char*, Mutation>> cases = {
      {"part present", put("part", number(0))},
      {"version missing", remove("version")},
      {"version 1", put("version", number(1))},
      {"version as text", put("version", text("0"))},
      {"version 0.5", put("version", real(0.5))},
      {"version 2^32", put("version", real(4294967296.0))},
      {"version boolean", put("version", yes)},
      {"version null", put("version", none)},
      {"subtype missing", remove("subtype")},
      {"subtype other", put("subtype", number(SInt32(kSubtype) + 1))},
      {"subtype as text", put("subtype", text("Qbs7"))},
      {"manufacturer missing", remove("manufacturer")},
      {"manufacturer other", put("manufacturer", number(0))},
      {"manufacturer as data", put("manufacturer", bytes(Words({kManufacturer})))},
      {"data as text", put("data", text("data"))},
      {"data null", put("data", none)},
      {"data cut inside an entry", put("data", bytes(Words({0, 0, 2, 0, 0x3F800000})))},
      {"data count beyond the end", put("data", bytes(Words({0, 0, 0xFFFFFFFF, 0, 0})))},
      {"data lone scope word", put("data", bytes(Words({0})))},
      {"name as number", put("name", number(3))},
      {"name null", put("name", none)},
      {"element-name as text", put("element-name", text("names"))},
      {"scope entry as text", put("element-name", names("1", text("In")))},
      {"element key letters", put("element-name", names("1", entry(text("x"), text("In"))))},
      {"element key empty", put("element-name", names("1", entry(text(""), text("In"))))},
      {"element key negative", put("element-name", names("1", entry(text("-1"), text("In"))))},
      {"element key signed", put("element-name", names("1", entry(text("+1"), text("In"))))},
      {"element key spaced", put("element-name", names("1", entry(text(" 1"), text("In"))))},
      {"element key trailing", put("element-name", names("1", entry(text("1a"), text("In"))))},
      {"element key beyond 32 bits",
       put("element-name", names("1", entry(text("4294967296"), text("In"))))},
      {"element key wraps the count",
       put("element-name", names("1", entry(text("4294967295"), text("In"))))},
      {"element key of 32 digits",
       put("element-name", names("1", entry(text("00000000000000000000000000000001"), text("In"))))},
      {"element key as number", put("element-name", names("1", entry(number(1), text("In"))))},
      {"element name as number", put("element-name", names("2", entry(text("0"), number(1))))},
      {"element name null", put("element-name", names("2", entry(text("0"), none)))},
      {"element beyond the growth limit",
       put("element-name", names("3", entry(text("1024"), text("G"))))},
  };

  for (const auto& [what, mutate] : cases) {
    SCOPED_TRACE(what);
    auto unit = OpenUnit();
    unit->Globals()->SetParameter(0, 7.0f);
    unit->GetElement(kAudioUnitScope_Input, 0)->SetName(Str("Before").get());
    const Fingerprint before(*unit);
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);

    // Valid apart from the mutation, and it would change everything.
    CFRef<CFMutableDictionaryRef> state = StateWithData(Chunk(0, 0, {{0, 1.0f}, {5, 2.0f}}));
    Set(state.get(), "name", Str("Restored").get());
    Set(state.get(), "element-name", names("1", entry(text("3"), text("After")))().get());
    mutate(state.get());

    EXPECT_EQ(Restore(*unit, state.get()), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_TRUE(Fingerprint(*unit) == before);
    EXPECT_TRUE(notices.empty());
  }
}

TEST_F(SavedStateTest, ValuesThatAreNotDictionariesAreRejected) {
  auto unit = OpenUnit();
  CFRef<CFMutableArrayRef> array =
      CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFRef<CFNumberRef> number = Int(0);
  CFRef<CFDataRef> data = Data(Chunk(0, 0, {{0, 1.0f}}));
  for (CFTypeRef value : {CFTypeRef(nullptr), CFTypeRef(number.get()), CFTypeRef(array.get()),
                          CFTypeRef(data.get())})
    EXPECT_EQ(Restore(*unit, value), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(unit->Globals()->GetNumberOfParameters(), 0u);
}

TEST_F(SavedStateTest, LooseButMeaningfulStatesAreAccepted) {
  const std::vector<std::pair<const char*, std::function<void(CFMutableDictionaryRef)>>> cases = {
      {"another component type", [](auto s) { Set(s, "type", Int(1234).get()); }},
      {"type missing", [](auto s) { CFDictionaryRemoveValue(s, Str("type").get()); }},
      {"version as an exact float",
       [](auto s) {
         const double zero = 0.0;
         Set(s, "version", CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &zero)).get());
       }},
      {"unknown keys", [](auto s) { Set(s, "comment", Str("from elsewhere").get()); }},
      {"render-quality that is not a number",
       [](auto s) { Set(s, "render-quality", Str("high").get()); }},
      {"element-name with other keys",
       [](auto s) {
         CFRef<CFMutableDictionaryRef> names = NewDict();
         Set(names.get(), "7", Str("not a scope").get());
         Set(names.get(), "x", Int(1).get());
         Set(s, "element-name", names.get());
       }},
  };
  for (const auto& [what, mutate] : cases) {
    SCOPED_TRACE(what);
    auto unit = OpenUnit();
    CFRef<CFMutableDictionaryRef> state = StateWithData(Chunk(0, 0, {{0, 1.0f}}));
    mutate(state.get());
    EXPECT_EQ(Restore(*unit, state.get()), noErr);
    EXPECT_EQ(ParamOf(*unit, 0, 0, 0), 1.0f);
  }
}

// ---- restoring: the parameter walk ---------------------------------------------------

TEST_F(SavedStateTest, DataIsAppliedToEveryNamedElement) {
  auto unit = OpenUnit();
  unit->Globals()->SetParameter(0, 7.0f);
  const auto bytes = Concat({Chunk(0, 0, {{0, 1000.0f}, {1, 0.5f}}), Chunk(1, 0, {}),
                             Chunk(2, 0, {{3, -2.0f}})});
  ASSERT_EQ(Restore(*unit, StateWithData(bytes).get()), noErr);
  EXPECT_EQ(ParamOf(*unit, 0, 0, 0), 1000.0f);
  EXPECT_EQ(ParamOf(*unit, 0, 0, 1), 0.5f);
  EXPECT_EQ(ParamOf(*unit, 2, 0, 3), -2.0f);
  EXPECT_EQ(unit->GetElement(kAudioUnitScope_Input, 0)->GetNumberOfParameters(), 0u);
}

TEST_F(SavedStateTest, EmptyOrMissingDataLeavesParametersAlone) {
  for (bool withData : {true, false}) {
    auto unit = OpenUnit();
    unit->Globals()->SetParameter(0, 7.0f);
    CFRef<CFMutableDictionaryRef> state = withData ? StateWithData({}) : MinimalState();
    EXPECT_EQ(Restore(*unit, state.get()), noErr);
    EXPECT_EQ(ParamOf(*unit, 0, 0, 0), 7.0f);
    EXPECT_EQ(unit->Globals()->GetNumberOfParameters(), 1u);
  }
}

TEST_F(SavedStateTest, MissingElementStopsTheWalkButNotTheRestore) {
  struct Case {
    const char* what;
    std::vector<UInt8> bytes;
    std::optional<Float32> param0, param1;
  };
  const std::vector<Case> cases = {
      {"first chunk names global element 5",
       Concat({Chunk(0, 5, {{0, 1.0f}}), Chunk(0, 0, {{1, 2.0f}})}), std::nullopt, std::nullopt},
      {"missing input between two chunks",
       Concat({Chunk(0, 0, {{0, 1.0f}}), Chunk(1, 5, {{0, 9.0f}}), Chunk(0, 0, {{1, 2.0f}})}),
       1.0f, std::nullopt},
      // What follows a missing element is never read, so a cut there is harmless.
      {"missing element before a cut chunk",
       Concat({Chunk(0, 0, {{0, 1.0f}}), Words({2, 7, 100, 0})}), 1.0f, std::nullopt},
      {"missing element with only its header left", Concat({Chunk(0, 0, {{0, 1.0f}}), Words({3, 0})}),
       1.0f, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = OpenUnit();
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);
    CFRef<CFMutableDictionaryRef> state = StateWithData(c.bytes);
    Set(state.get(), "name", Str("Kept").get());
    EXPECT_EQ(Restore(*unit, state.get()), noErr);
    EXPECT_EQ(ParamOf(*unit, 0, 0, 0), c.param0);
    EXPECT_EQ(ParamOf(*unit, 0, 0, 1), c.param1);
    EXPECT_EQ(TextOf(unit->GetCurrentPreset().presetName), "Kept");
    EXPECT_EQ(notices.size(), 2u);
  }
}

TEST_F(SavedStateTest, LookupFaultsWhileApplyingKeepEarlierChunksAndSkipTheRest) {
  struct Case {
    const char* what;
    bool indexed;
    std::vector<UInt8> bytes;
    OSStatus status;
  };
  const std::vector<Case> cases = {
      {"scope 5", false, Concat({Chunk(0, 0, {{0, 1.0f}}), Chunk(5, 0, {{0, 2.0f}})}),
       kAudioUnitErr_InvalidScope},
      {"scope beyond 32-bit sign", false,
       Concat({Chunk(0, 0, {{0, 1.0f}}), Chunk(0x80000000u, 0, {})}), kAudioUnitErr_InvalidScope},
      {"index beyond an indexed element", true, Chunk(0, 0, {{0, 1.0f}, {7, 2.0f}}),
       kAudioUnitErr_InvalidParameter},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = OpenUnit();
    if (c.indexed) unit->Globals()->UseIndexedParameters(2);
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);
    CFRef<CFMutableDictionaryRef> state = StateWithData(c.bytes);
    Set(state.get(), "name", Str("Never").get());

    EXPECT_EQ(Restore(*unit, state.get()), c.status);
    EXPECT_EQ(ParamOf(*unit, 0, 0, 0), 1.0f);
    EXPECT_EQ(TextOf(unit->GetCurrentPreset().presetName), "Untitled");
    EXPECT_TRUE(notices.empty());
  }
}

TEST_F(SavedStateTest, DataCutAtEveryPositionIsRejectedUnlessCutBetweenChunks) {
  const std::vector<std::vector<UInt8>> chunks = {Chunk(0, 0, {{0, 10.0f}, {1, 11.0f}, {2, 12.0f}}),
                                                  Chunk(1, 0, {{0, 20.0f}}),
                                                  Chunk(2, 0, {{0, 30.0f}, {1, 31.0f}})};
  std::vector<UInt8> blob;
  std::vector<size_t> boundaries = {0};
  for (const auto& c : chunks) {
    blob.insert(blob.end(), c.begin(), c.end());
    boundaries.push_back(blob.size());
  }

  for (size_t length = 0; length <= blob.size(); ++length) {
    SCOPED_TRACE(length);
    auto unit = OpenUnit();
    const Fingerprint before(*unit);
    // An exactly sized copy, so reading one byte too far is caught.
    const std::vector<UInt8> prefix(blob.begin(), blob.begin() + static_cast<long>(length));
    const OSStatus status = Restore(*unit, StateWithData(prefix).get());

    const auto boundary = std::find(boundaries.begin(), boundaries.end(), length);
    if (boundary == boundaries.end()) {
      EXPECT_EQ(status, kAudioUnitErr_InvalidPropertyValue);
      EXPECT_TRUE(Fingerprint(*unit) == before);
      continue;
    }
    EXPECT_EQ(status, noErr);
    const size_t applied = static_cast<size_t>(boundary - boundaries.begin());
    EXPECT_EQ(ParamOf(*unit, 0, 0, 2), applied >= 1 ? std::optional(12.0f) : std::nullopt);
    EXPECT_EQ(ParamOf(*unit, 1, 0, 0), applied >= 2 ? std::optional(20.0f) : std::nullopt);
    EXPECT_EQ(ParamOf(*unit, 2, 0, 1), applied >= 3 ? std::optional(31.0f) : std::nullopt);
  }
}

// ---- restoring: preset, optional properties, names -------------------------------------

TEST_F(SavedStateTest, RestoreMakesAUserPresetAndNotifiesCurrentThenPresent) {
  for (const char* name : {static_cast<const char*>(nullptr), "Evening"}) {
    SCOPED_TRACE(name ? name : "no name");
    auto unit = OpenUnit();
    ASSERT_TRUE(unit->SetAFactoryPresetAsCurrent(AUPreset{4, Str("Factory four").get()}));
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);

    CFRef<CFMutableDictionaryRef> state = MinimalState();
    if (name) Set(state.get(), "name", Str(name).get());
    ASSERT_EQ(Restore(*unit, state.get()), noErr);

    EXPECT_EQ(unit->GetCurrentPreset().presetNumber, -1);
    EXPECT_EQ(TextOf(unit->GetCurrentPreset().presetName), name ? name : "Untitled");
    const std::vector<Notice> expected = {{kAudioUnitProperty_CurrentPreset, 0, 0},
                                          {kAudioUnitProperty_PresentPreset, 0, 0}};
    EXPECT_EQ(notices, expected);
  }
}

TEST_F(SavedStateTest, RestoredPresetNameIsHeldByTheUnit) {
  auto unit = OpenUnit();
  CFRef<CFStringRef> name = Str("Held");
  CFRef<CFMutableDictionaryRef> state = MinimalState();
  Set(state.get(), "name", name.get());
  const CFIndex before = CFGetRetainCount(name.get());
  ASSERT_EQ(Restore(*unit, state.get()), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), before + 1);
  // Restoring again gives the first name back.
  ASSERT_EQ(Restore(*unit, MinimalState().get()), noErr);
  EXPECT_EQ(CFGetRetainCount(name.get()), before);
}

TEST_F(SavedStateTest, OptionalPropertiesAreWrittenBackAndTheirRefusalIgnored) {
  for (bool accepts : {true, false}) {
    SCOPED_TRACE(accepts);
    auto unit = OpenUnit();
    unit->acceptsOptional = accepts;
    CFRef<CFMutableDictionaryRef> state = MinimalState();
    Set(state.get(), "render-quality", Int(0x40).get());
    const Float32 load = 0.75f;
    Set(state.get(), "cpu-load",
        CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloatType, &load)).get());
    EXPECT_EQ(Restore(*unit, state.get()), noErr);
    EXPECT_EQ(unit->written[kAudioUnitProperty_RenderQuality], 0x40u);
    EXPECT_EQ(unit->written[kAudioUnitProperty_CPULoad], Bits(0.75f));
  }
}

TEST_F(SavedStateTest, ElementNamesRaiseCountsAndNotifyOncePerRaisedScope) {
  struct Case {
    const char* what;
    const char* scope;
    std::vector<std::pair<const char*, const char*>> names;
    AudioUnitScope scopeNumber;
    UInt32 countAfter;
    bool notified;
  };
  const std::vector<Case> cases = {
      {"input 2 on a one-input unit", "1", {{"2", "Aux"}}, 1, 3, true},
      {"existing output", "2", {{"0", "Main"}}, 2, 1, false},
      {"highest of several keys", "1", {{"1", "One"}, {"4", "Four"}, {"0", "Zero"}}, 1, 5, true},
      {"empty entry for a scope without elements", "3", {}, 3, 1, true},
      {"last element below the growth limit", "4", {{"1023", "Top"}}, 4, 1024, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = OpenUnit();
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);
    CFRef<CFMutableDictionaryRef> entry = NewDict();
    for (const auto& [key, name] : c.names) Set(entry.get(), key, Str(name).get());
    CFRef<CFMutableDictionaryRef> names = NewDict();
    Set(names.get(), c.scope, entry.get());
    CFRef<CFMutableDictionaryRef> state = MinimalState();
    Set(state.get(), "element-name", names.get());

    ASSERT_EQ(Restore(*unit, state.get()), noErr);
    AUScope& scope = unit->GetScope(c.scopeNumber);
    EXPECT_EQ(scope.GetNumberOfElements(), c.countAfter);
    for (const auto& [key, name] : c.names)
      EXPECT_EQ(TextOf(scope.GetElement(UInt32(std::stoul(key)))->GetName()), name);
    std::vector<Notice> expected = {{kAudioUnitProperty_CurrentPreset, 0, 0},
                                    {kAudioUnitProperty_PresentPreset, 0, 0}};
    if (c.notified) expected.push_back({kAudioUnitProperty_ElementCount, c.scopeNumber, 0});
    EXPECT_EQ(notices, expected);
  }
}

// ---- round trip and presets --------------------------------------------------------------

TEST_F(SavedStateTest, SaveRestoreSaveGivesAnEqualState) {
  auto first = OpenUnit(2, 1);
  first->answersOptional = true;
  first->Globals()->SetParameter(0, 1000.0f);
  first->Globals()->SetParameter(2, 0.3f);
  first->GetElement(kAudioUnitScope_Output, 0)->SetParameter(1, -0.0f);
  first->GetElement(kAudioUnitScope_Input, 1)->SetName(Str("Side chain").get());
  ASSERT_TRUE(first->SetAFactoryPresetAsCurrent(AUPreset{2, Str("Factory two").get()}));
  CFRef<CFDictionaryRef> saved = Save(*first);

  auto second = OpenUnit(1, 1);
  second->answersOptional = true;
  ASSERT_EQ(Restore(*second, saved.get()), noErr);
  EXPECT_TRUE(CFEqual(Save(*second).get(), saved.get()));
  EXPECT_EQ(second->GetCurrentPreset().presetNumber, -1);

  // Into the unit it came from: the factory number is gone, the rest stays.
  ASSERT_EQ(Restore(*first, saved.get()), noErr);
  EXPECT_EQ(first->GetCurrentPreset().presetNumber, -1);
  EXPECT_TRUE(CFEqual(Save(*first).get(), saved.get()));
}

TEST_F(SavedStateTest, FactoryPresetBecomesCurrentOnlyWithNumberAndName) {
  CFRef<CFStringRef> name = Str("Factory");
  struct Case {
    const char* what;
    AUPreset preset;
    bool made;
  };
  const std::vector<Case> cases = {
      {"factory number", {3, name.get()}, true},
      {"number 0", {0, name.get()}, true},
      {"negative number", {-1, name.get()}, false},
      {"no name", {3, nullptr}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = OpenUnit();
    std::vector<Notice> notices;
    ListenToStateNotices(*unit, notices);
    const CFIndex before = CFGetRetainCount(name.get());
    EXPECT_EQ(unit->SetAFactoryPresetAsCurrent(c.preset), c.made);
    const AUPreset& current = unit->GetCurrentPreset();
    EXPECT_EQ(current.presetNumber, c.made ? c.preset.presetNumber : -1);
    EXPECT_EQ(TextOf(current.presetName), c.made ? "Factory" : "Untitled");
    EXPECT_EQ(CFGetRetainCount(name.get()), before + (c.made ? 1 : 0));
    EXPECT_TRUE(notices.empty());
  }
  // Units closed: every reference they took is given back.
  EXPECT_EQ(CFGetRetainCount(name.get()), 1);
}

TEST_F(SavedStateTest, ClassInfoPropertyCarriesTheStateBetweenUnits) {
  auto source = OpenUnit();
  source->Globals()->SetParameter(1, 0.5f);
  CFPropertyListRef state = nullptr;
  ASSERT_EQ(source->DispatchGetProperty(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                                        &state),
            noErr);
  CFRef<CFPropertyListRef> owned = CFRef<CFPropertyListRef>::Adopt(state);

  auto target = OpenUnit();
  EXPECT_EQ(target->DispatchSetProperty(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0,
                                        &state, sizeof state),
            noErr);
  EXPECT_EQ(ParamOf(*target, 0, 0, 1), 0.5f);
}
