#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/CFRef.h"
#include "support/ProbeUnit.h"
#include "utility/CAAUParameter.h"

namespace {

CFRef<CFStringRef> Str(const std::string& text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}
std::string Text(CFStringRef s) {
  const char* p = CFStringGetCStringPtr(s, kCFStringEncodingUTF8);
  return p != nullptr ? std::string(p) : std::string("<null>");
}
std::string Owned(CFStringRef s) { return Text(CFRef<CFStringRef>::Adopt(s).get()); }

AudioUnitParameterInfo Info(UInt32 unit, Float32 minValue, Float32 maxValue, Float32 defaultValue = 0.0f,
                            UInt32 flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable) {
  AudioUnitParameterInfo info{};
  std::strcpy(info.name, "level");
  info.unit = unit;
  info.minValue = minValue;
  info.maxValue = maxValue;
  info.defaultValue = defaultValue;
  info.flags = flags;
  return info;
}

// Pins the number locale for one test.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) {
    if (const char* v = std::getenv("LC_ALL")) saved_ = v;
    setenv("LC_ALL", name, 1);
  }
  ~ScopedLocale() {
    if (saved_) {
      setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
  }

 private:
  std::optional<std::string> saved_;
};

class ParameterStrings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(unit_.status(), noErr) << "the probe bundle must be built"; }

  // A parameter the probe describes with info, under a fresh ID.
  CAAUParameter Describe(const AudioUnitParameterInfo& info) {
    const AudioUnitParameterID id = nextID_++;
    EXPECT_EQ(unit_.Describe(id, info), noErr);
    return CAAUParameter(unit_.get(), id, kAudioUnitScope_Global, 0);
  }

  ProbeUnit unit_;
  AudioUnitParameterID nextID_ = 100;
};

}  // namespace

TEST_F(ParameterStrings, FractionDigitsFollowRangeOrFrequencyInEachLocale) {
  struct Case {
    UInt32 unit;
    Float32 minValue, maxValue;
    UInt32 flags;
    Float32 value;
    const char* enUS;
    const char* deDE;
    const char* posix;
  };
  const UInt32 hiRes = kAudioUnitParameterFlag_IsHighResolution;
  const Case cases[] = {
      // Frequencies: digits from the value itself.
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 0, 440.0f, "440.0", "440,0", "440.0"},
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 0, 4400.0f, "4,400", "4.400", "4400"},
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 0, 4.4f, "4.4", "4,4", "4.4"},
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 0, 44.123f, "44.12", "44,12", "44.12"},
      {kAudioUnitParameterUnit_Hertz, 0.0f, 1.0f, 0, 0.05f, "0.05", "0,05", "0.05"},
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, hiRes, 440.12345f, "440.1234", "440,1234", "440.1234"},
      {kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, hiRes, 440.0f, "440.0", "440,0", "440.0"},
      // Everything else: digits from the range.
      {kAudioUnitParameterUnit_Generic, 0.0f, 1.0f, 0, 0.5f, "0.5", "0,5", "0.5"},
      {kAudioUnitParameterUnit_Generic, 0.0f, 1.0f, 0, 0.123456f, "0.123", "0,123", "0.123"},
      {kAudioUnitParameterUnit_Decibels, -20.0f, 20.0f, 0, -6.0206f, "-6.02", "-6,02", "-6.02"},
      {kAudioUnitParameterUnit_Percent, 0.0f, 100.0f, 0, 12.34f, "12.3", "12,3", "12.3"},
      {kAudioUnitParameterUnit_Generic, 0.0f, 10000.0f, 0, 1234.5f, "1,234", "1.234", "1234"},
      {kAudioUnitParameterUnit_Generic, 5.0f, 5.0f, 0, 5.0f, "5.0", "5,0", "5.0"},
      // Cents show no fraction unless the range is small.
      {kAudioUnitParameterUnit_Cents, -1200.0f, 1200.0f, 0, 100.6f, "101", "101", "101"},
      {kAudioUnitParameterUnit_Cents, -1200.0f, 1200.0f, 0, -1200.0f, "-1,200", "-1.200", "-1200"},
      {kAudioUnitParameterUnit_AbsoluteCents, 0.0f, 50.0f, 0, 12.5f, "12.5", "12,5", "12.5"},
      {kAudioUnitParameterUnit_Cents, 0.0f, 50.0f, 0, 12.0f, "12", "12", "12"},
  };
  for (const Case& c : cases) {
    const CAAUParameter param = Describe(Info(c.unit, c.minValue, c.maxValue, 0.0f, c.flags));
    const std::pair<const char*, const char*> locales[] = {
        {"en_US.UTF-8", c.enUS}, {"de_DE.UTF-8", c.deDE}, {"C", c.posix}};
    for (const auto& [locale, expected] : locales) {
      ScopedLocale pinned(locale);
      EXPECT_EQ(Owned(param.GetStringFromValueCopy(&c.value)), expected)
          << locale << " unit " << c.unit << " value " << c.value;
    }
  }
}

TEST_F(ParameterStrings, CurrentValueIsShownWhenNoneIsGiven) {
  ScopedLocale pinned("de_DE");
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f));
  ASSERT_EQ(unit_.SetParameter(param.mParameterID, 440.0f), noErr);
  EXPECT_EQ(param.GetValue(), 440.0f);
  EXPECT_EQ(Owned(param.GetStringFromValueCopy()), "440,0");
  EXPECT_EQ(Text(param.GetUnitLabel()), "Hz");
}

TEST_F(ParameterStrings, TextParsesBackInTheCurrentLocale) {
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Hertz, 12.0f, 22050.0f, 1000.0f));
  struct Case {
    const char* locale;
    const char* text;
    Float32 value;
  };
  const Case cases[] = {
      {"en_US", "1,234.5", 1234.5f}, {"de_DE", "1.234,5", 1234.5f}, {"de_DE", "440,5", 440.5f},
      {"C", "440.5", 440.5f},        {"en_US", " 12 ", 12.0f},      {"de_DE", "440.5", 1000.0f},
      {"en_US", "abc", 1000.0f},     {"en_US", "", 1000.0f},        {"en_US", "440 Hz", 1000.0f},
      {"en_US", "1e300", INFINITY},
  };
  for (const Case& c : cases) {
    ScopedLocale pinned(c.locale);
    EXPECT_EQ(param.GetValueFromString(Str(c.text).get()), c.value) << c.locale << " '" << c.text << "'";
  }
  EXPECT_EQ(param.GetValueFromString(nullptr), 1000.0f);

  // What is shown reads back as the value rounded to what is shown.
  ScopedLocale pinned("de_DE");
  const Float32 shown = 4321.0f;
  EXPECT_EQ(param.GetValueFromString(CFRef<CFStringRef>::Adopt(param.GetStringFromValueCopy(&shown)).get()), shown);
}

TEST_F(ParameterStrings, FreeFunctionsWithoutAParameter) {
  EXPECT_EQ(CreateLocalizedStringForParameterValue(1.0, nullptr, 4), nullptr);
  EXPECT_EQ(ValueForLocalizedParameterString(Str("1").get(), nullptr), 0.0);

  ScopedLocale pinned("en_US");
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Generic, 0.0f, 1.0f));
  EXPECT_EQ(Owned(CreateLocalizedStringForParameterValue(0.5, &param, 2)), "0.5");        // 2 - 0 - 1 digits
  EXPECT_EQ(Owned(CreateLocalizedStringForParameterValue(0.5, &param, 6, 3)), "0.500");   // minimum honoured
  EXPECT_EQ(Owned(CreateLocalizedStringForParameterValue(0.5, &param, 1, 3)), "0");       // no fraction, no minimum
  EXPECT_EQ(ValueForLocalizedParameterString(Str("0.25").get(), &param), 0.25);
}

TEST_F(ParameterStrings, NamedValuesStartAtTheMinimum) {
  ScopedLocale pinned("en_US");
  // The unit hands the caller one reference per read of the names.
  auto names = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  auto low = Str("Low");
  auto high = Str("High");
  CFArrayAppendValue(names.get(), low.get());
  CFArrayAppendValue(names.get(), high.get());
  CFArrayRef handed = names.get();

  struct Case {
    Float32 minValue, maxValue, value;
    const char* text;
  };
  const Case cases[] = {
      {0.0f, 1.0f, 0.0f, "Low"},   {0.0f, 1.0f, 1.7f, "High"},  // truncated
      {0.0f, 1.0f, 2.0f, "2.0"},   {0.0f, 1.0f, -1.0f, "-1.0"},  // no name: the number
      {1.0f, 2.0f, 1.0f, "Low"},   {1.0f, 2.0f, 2.9f, "High"},
      {1.0f, 2.0f, 3.0f, "3.0"},   {1.0f, 2.0f, 0.0f, "0.0"},
      {-1.0f, 0.0f, -1.0f, "Low"}, {-1.0f, 0.0f, -0.5f, "High"},  // toward zero each: 0 - (-1)
  };
  for (const Case& c : cases) {
    const AudioUnitParameterID id = nextID_++;
    ASSERT_EQ(unit_.Describe(id, Info(kAudioUnitParameterUnit_Indexed, c.minValue, c.maxValue)), noErr);
    ASSERT_EQ(unit_.Answer(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global, id, handed), noErr);
    CFRetain(handed);
    const CAAUParameter param(unit_.get(), id, kAudioUnitScope_Global, 0);
    ASSERT_TRUE(param.HasNamedParams());
    EXPECT_EQ(param.GetNumIndexedValues(), 2);
    EXPECT_EQ(Owned(param.GetStringFromValueCopy(&c.value)), c.text) << c.minValue << " " << c.value;
  }
  EXPECT_EQ(CFGetRetainCount(handed), 1) << "every parameter gave its names back";
  EXPECT_EQ(CFGetRetainCount(high.get()), 2) << "a returned name is the caller's own reference";
}

TEST_F(ParameterStrings, IndexedCountsWithoutNames) {
  struct Case {
    UInt32 unit;
    Float32 minValue, maxValue;
    SInt16 count;
  };
  const Case cases[] = {
      {kAudioUnitParameterUnit_Indexed, 0.0f, 4.0f, 5},           // no names reported
      {kAudioUnitParameterUnit_MIDINoteNumber, 0.0f, 127.0f, 128},
      {kAudioUnitParameterUnit_MIDIController, 1.0f, 16.5f, 16},  // truncated
      {kAudioUnitParameterUnit_Indexed, 0.0f, 1.0e6f, 32767},     // saturates instead of wrapping
      {kAudioUnitParameterUnit_Generic, 0.0f, 4.0f, 0},
  };
  for (const Case& c : cases) {
    const CAAUParameter param = Describe(Info(c.unit, c.minValue, c.maxValue));
    EXPECT_EQ(param.GetNumIndexedValues(), c.count) << c.unit << " " << c.maxValue;
    EXPECT_EQ(param.IsIndexedParam(), c.count != 0);
    EXPECT_FALSE(param.HasNamedParams());
    EXPECT_EQ(param.GetParamName(0), nullptr);
  }

  // An empty list of names counts as none.
  auto empty = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  const AudioUnitParameterID id = nextID_++;
  ASSERT_EQ(unit_.Describe(id, Info(kAudioUnitParameterUnit_Indexed, 0.0f, 2.0f)), noErr);
  ASSERT_EQ(unit_.Answer(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global, id,
                         static_cast<CFArrayRef>(empty)),
            noErr);
  const CAAUParameter param(unit_.get(), id, kAudioUnitScope_Global, 0);
  EXPECT_EQ(param.GetNumIndexedValues(), 3);
  EXPECT_FALSE(param.HasNamedParams());
}

TEST_F(ParameterStrings, HandedOverNamesAreReleasedOnceAndNeverKeptDangling) {
  auto name = Str("cutoff");
  auto custom = Str("furlongs");
  struct Case {
    UInt32 flags;
    CFIndex nameCountWhileHeld;
  };
  // Without CFNameRelease the parameter takes its own reference; with it the
  // unit's reference passes to the parameter.
  const Case cases[] = {{kAudioUnitParameterFlag_HasCFNameString, 2},
                        {kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease, 2}};
  for (const Case& c : cases) {
    const bool handedOver = (c.flags & kAudioUnitParameterFlag_CFNameRelease) != 0;
    AudioUnitParameterInfo info = Info(kAudioUnitParameterUnit_CustomUnit, 0.0f, 1.0f, 0.0f, c.flags);
    info.cfNameString = name.get();
    info.unitName = custom.get();
    if (handedOver) {
      CFRetain(name.get());
      CFRetain(custom.get());
    }
    {
      const CAAUParameter param = Describe(info);
      EXPECT_EQ(param.GetName(), name.get());
      EXPECT_EQ(Text(param.GetUnitLabel()), "furlongs");
      EXPECT_EQ(CFGetRetainCount(name.get()), c.nameCountWhileHeld);
      EXPECT_EQ(CFGetRetainCount(custom.get()), 1) << "the label is a copy of the text";
      EXPECT_EQ(param.ParamInfo().unitName, handedOver ? nullptr : custom.get());

      CAAUParameter copy = param;
      EXPECT_EQ(CFGetRetainCount(name.get()), c.nameCountWhileHeld + 1);
      const CAAUParameter& same = copy;
      copy = same;  // assigning itself keeps its references
      EXPECT_EQ(CFGetRetainCount(name.get()), c.nameCountWhileHeld + 1);
      copy = CAAUParameter();
      EXPECT_EQ(CFGetRetainCount(name.get()), c.nameCountWhileHeld);
      EXPECT_EQ(copy.GetName(), nullptr);
    }
    EXPECT_EQ(CFGetRetainCount(name.get()), 1);
    EXPECT_EQ(CFGetRetainCount(custom.get()), 1);
  }

  // A handed-over name string that is not the display name is released too.
  AudioUnitParameterInfo info = Info(kAudioUnitParameterUnit_Generic, 0.0f, 1.0f, 0.0f,
                                     kAudioUnitParameterFlag_CFNameRelease);
  info.cfNameString = name.get();
  CFRetain(name.get());
  {
    const CAAUParameter param = Describe(info);
    EXPECT_EQ(Text(param.GetName()), "level");
    EXPECT_EQ(param.ParamInfo().cfNameString, nullptr);
  }
  EXPECT_EQ(CFGetRetainCount(name.get()), 1);
}

TEST_F(ParameterStrings, NamesFromTheRecordText) {
  AudioUnitParameterInfo info = Info(kAudioUnitParameterUnit_CustomUnit, 0.0f, 1.0f);
  std::memset(info.name, 'n', sizeof info.name);  // fills the field, no terminator
  const std::string longName(300, 'u');
  auto unitName = Str(longName);
  info.unitName = unitName.get();
  const CAAUParameter param = Describe(info);
  EXPECT_EQ(Text(param.GetName()), std::string(sizeof info.name, 'n'));
  EXPECT_EQ(Text(param.GetUnitLabel()), std::string(255, 'u'));

  std::strcpy(info.name, "Gr\xC3\xB6\xC3\x9F" "e");  // UTF-8
  info.unit = kAudioUnitParameterUnit_Generic;
  EXPECT_EQ(Text(Describe(info).GetName()), "Gr\xC3\xB6\xC3\x9F" "e");
}

TEST_F(ParameterStrings, UnitThatDoesNotAnswerLeavesAZeroRecord) {
  const CAAUParameter unknown(unit_.get(), 9999, kAudioUnitScope_Global, 0);  // nothing described
  const CAAUParameter noUnit(nullptr, 1, kAudioUnitScope_Global, 0);
  const CAAUParameter empty;
  AudioUnitParameterInfo zero;
  std::memset(&zero, 0, sizeof zero);
  for (const CAAUParameter* param : {&unknown, &noUnit, &empty}) {
    EXPECT_EQ(std::memcmp(&param->ParamInfo(), &zero, sizeof zero), 0);
    EXPECT_EQ(param->GetUnitLabel(), nullptr);
    EXPECT_FALSE(param->IsIndexedParam());
    EXPECT_EQ(param->GetValue(), 0.0f);
    EXPECT_EQ(param->GetValueFromString(Str("abc").get()), 0.0f);
  }
  EXPECT_EQ(Text(unknown.GetName()), "");
  EXPECT_EQ(unknown.mAudioUnit, unit_.get());
  EXPECT_EQ(unknown.mParameterID, 9999u);
  EXPECT_EQ(empty.GetName(), nullptr);
  EXPECT_EQ(empty.mAudioUnit, nullptr);
}

TEST_F(ParameterStrings, UnitTextConversionsComeFirst) {
  ScopedLocale pinned("en_US");
  const UInt32 flags = kAudioUnitParameterFlag_ValuesHaveStrings;
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Generic, 0.0f, 1.0f, 0.5f, flags));

  // Without the unit's answers, local formatting and parsing.
  const Float32 v = 0.25f;
  EXPECT_EQ(Owned(param.GetStringFromValueCopy(&v)), "0.25");
  EXPECT_EQ(param.GetValueFromString(Str("0.75").get()), 0.75f);

  // The unit's own text, handed to the caller.
  CFStringRef quarter = CFStringCreateWithCString(nullptr, "a quarter", kCFStringEncodingUTF8);
  ASSERT_EQ(unit_.Answer(kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, param.mParameterID,
                         AudioUnitParameterStringFromValue{param.mParameterID, nullptr, quarter}),
            noErr);
  EXPECT_EQ(Owned(param.GetStringFromValueCopy(&v)), "a quarter");  // releases the unit's reference

  ASSERT_EQ(unit_.Answer(kAudioUnitProperty_ParameterValueFromString, kAudioUnitScope_Global, param.mParameterID,
                         AudioUnitParameterValueFromString{param.mParameterID, nullptr, 0.125f}),
            noErr);
  EXPECT_EQ(param.GetValueFromString(Str("anything").get()), 0.125f);

  // A unit answer without text falls back to formatting.
  ASSERT_EQ(unit_.Answer(kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, param.mParameterID,
                         AudioUnitParameterStringFromValue{param.mParameterID, nullptr, nullptr}),
            noErr);
  EXPECT_EQ(Owned(param.GetStringFromValueCopy(&v)), "0.25");
}

TEST_F(ParameterStrings, SetValueClampsToTheRange) {
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Generic, -1.0f, 10.0f, 2.0f));
  struct Case {
    Float32 asked, set;
  };
  const Case cases[] = {{5.0f, 5.0f}, {15.0f, 10.0f}, {-3.0f, -1.0f}, {INFINITY, 10.0f}, {-INFINITY, -1.0f}};
  for (const Case& c : cases) {
    param.SetValue(nullptr, nullptr, c.asked);
    EXPECT_EQ(unit_.Parameter(param.mParameterID), c.set) << c.asked;
    EXPECT_EQ(param.GetValue(), c.set);
  }
  param.SetValue(nullptr, nullptr, NAN);
  EXPECT_EQ(unit_.Parameter(param.mParameterID), -1.0f) << "NaN leaves the value";
}

TEST_F(ParameterStrings, SetValueTellsOtherListeners) {
  const CAAUParameter param = Describe(Info(kAudioUnitParameterUnit_Generic, 0.0f, 1.0f));
  struct Heard {
    void* object;
    Float32 value;
  };
  std::vector<Heard> heard;
  AUParameterListenerRef listener = nullptr;
  ASSERT_EQ(QelvoParameterListenerCreate(
                [](void* refCon, void* object, const AudioUnitParameter*, AudioUnitParameterValue value) {
                  static_cast<std::vector<Heard>*>(refCon)->push_back({object, value});
                },
                &heard, &listener),
            noErr);
  int slider = 0;
  int field = 0;
  ASSERT_EQ(QelvoParameterListenerAddParameter(listener, &slider, &param), noErr);
  ASSERT_EQ(QelvoParameterListenerAddParameter(listener, &field, &param), noErr);

  param.SetValue(listener, &slider, 3.0f);  // the slider moved: only the field hears, clamped
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].object, &field);
  EXPECT_EQ(heard[0].value, 1.0f);
  EXPECT_EQ(QelvoParameterListenerDispose(listener), noErr);
}
