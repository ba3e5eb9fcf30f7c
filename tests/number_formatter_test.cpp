#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/CFRef.h"
#include "platform/Values.h"

namespace {

CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}
std::string Text(CFStringRef s) {
  const char* p = CFStringGetCStringPtr(s, kCFStringEncodingUTF8);
  return p != nullptr ? std::string(p, static_cast<size_t>(CFStringGetLength(s))) : std::string("<null>");
}
CFRef<CFLocaleRef> Locale(const char* id) { return CFRef<CFLocaleRef>::Adopt(CFLocaleCreate(nullptr, Str(id).get())); }

CFRef<CFNumberFormatterRef> Formatter(const char* localeID, int32_t minFraction, int32_t maxFraction) {
  auto formatter = CFRef<CFNumberFormatterRef>::Adopt(
      CFNumberFormatterCreate(nullptr, Locale(localeID).get(), kCFNumberFormatterDecimalStyle));
  auto maxN = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &maxFraction));
  auto minN = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &minFraction));
  CFNumberFormatterSetProperty(formatter.get(), kCFNumberFormatterMaxFractionDigits, maxN.get());
  CFNumberFormatterSetProperty(formatter.get(), kCFNumberFormatterMinFractionDigits, minN.get());
  return formatter;
}

int32_t Property(CFNumberFormatterRef formatter, CFNumberFormatterKey key) {
  auto value = CFRef<CFTypeRef>::Adopt(CFNumberFormatterCopyProperty(formatter, key));
  int32_t count = -1;
  CFNumberGetValue(static_cast<CFNumberRef>(value.get()), kCFNumberSInt32Type, &count);
  return count;
}

std::optional<double> Parse(const char* localeID, const char* text) {
  auto formatter = Formatter(localeID, 0, 6);
  double value = 0.0;
  if (!CFNumberFormatterGetValueFromString(formatter.get(), Str(text).get(), nullptr, kCFNumberDoubleType, &value))
    return std::nullopt;
  return value;
}

// Sets or clears the locale variables for one test and puts them back after.
class LocaleEnvironment : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const char* v = std::getenv(kNames[i]);
      saved_[i] = v != nullptr ? std::optional<std::string>(v) : std::nullopt;
    }
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }
  static void Set(const char* name, const char* value) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  std::optional<std::string> saved_[3];
};

}  // namespace

TEST_F(LocaleEnvironment, CurrentLocaleFollowsThePosixVariables) {
  struct Case {
    const char* lcAll;
    const char* lcNumeric;
    const char* lang;
    const char* identifier;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", "fr_FR", "en_US", "de_DE"},
      {"", "fr_FR@euro", "en_US", "fr_FR"},
      {nullptr, nullptr, "de_CH.UTF-8", "de_CH"},
      {nullptr, "", "en_GB", "en_GB"},
      {nullptr, nullptr, "C.UTF-8", "en_US_POSIX"},
      {"POSIX", nullptr, "de_DE", "en_US_POSIX"},
      {nullptr, nullptr, nullptr, "en_US_POSIX"},
  };
  for (const Case& c : cases) {
    Set("LC_ALL", c.lcAll);
    Set("LC_NUMERIC", c.lcNumeric);
    Set("LANG", c.lang);
    auto locale = CFRef<CFLocaleRef>::Adopt(CFLocaleCopyCurrent());
    EXPECT_EQ(Text(CFLocaleGetIdentifier(locale.get())), c.identifier)
        << (c.lcAll ? c.lcAll : "-") << " / " << (c.lcNumeric ? c.lcNumeric : "-") << " / "
        << (c.lang ? c.lang : "-");
  }
}

TEST_F(LocaleEnvironment, FormatterOfTheCurrentLocaleSeesAChangedEnvironment) {
  Set("LC_ALL", "de_DE.UTF-8");
  auto german = CFRef<CFNumberFormatterRef>::Adopt(
      CFNumberFormatterCreate(nullptr, CFRef<CFLocaleRef>::Adopt(CFLocaleCopyCurrent()).get(),
                              kCFNumberFormatterDecimalStyle));
  Set("LC_ALL", "en_US.UTF-8");
  auto english = CFRef<CFNumberFormatterRef>::Adopt(
      CFNumberFormatterCreate(nullptr, CFRef<CFLocaleRef>::Adopt(CFLocaleCopyCurrent()).get(),
                              kCFNumberFormatterDecimalStyle));
  const double v = 0.5;
  EXPECT_EQ(Text(CFRef<CFStringRef>::Adopt(
                     CFNumberFormatterCreateStringWithValue(nullptr, german.get(), kCFNumberDoubleType, &v))
                     .get()),
            "0,5");
  EXPECT_EQ(Text(CFRef<CFStringRef>::Adopt(
                     CFNumberFormatterCreateStringWithValue(nullptr, english.get(), kCFNumberDoubleType, &v))
                     .get()),
            "0.5");
}

TEST(Locale, IdentifiersAreCanonicalAndCompareByValue) {
  EXPECT_EQ(Text(CFLocaleGetIdentifier(Locale("de-DE").get())), "de_DE");
  EXPECT_EQ(Text(CFLocaleGetIdentifier(Locale("en_us.ISO-8859-1").get())), "en_US");
  EXPECT_EQ(Text(CFLocaleGetIdentifier(Locale("").get())), "en_US_POSIX");
  EXPECT_TRUE(CFEqual(Locale("de_DE").get(), Locale("de-DE").get()));
  EXPECT_FALSE(CFEqual(Locale("de_DE").get(), Locale("de_CH").get()));
  EXPECT_EQ(CFGetTypeID(Locale("C").get()), CFLocaleGetTypeID());

  EXPECT_EQ(CFLocaleCreate(nullptr, nullptr), nullptr);
  int32_t n = 1;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &n));
  EXPECT_EQ(CFLocaleCreate(nullptr, reinterpret_cast<CFStringRef>(number.get())), nullptr);
  EXPECT_EQ(CFLocaleGetIdentifier(nullptr), nullptr);
}

TEST(NumberFormatter, FormatsInTheLocalesConventions) {
  struct Case {
    const char* locale;
    double value;
    int32_t minFraction;
    int32_t maxFraction;
    const char* text;
  };
  // Whole parameter displays are covered with the parameter strings; here the
  // formatter's own rules.
  const Case cases[] = {
      {"en_US", static_cast<double>(4.4f), 1, 3, "4.4"},  // trailing zeros dropped down to the minimum
      {"en_US", 2.0, 1, 3, "2.0"},
      {"en_US", 0.25, 1, 1, "0.2"},  // half to even
      {"en_US", -1200.0, 0, 0, "-1,200"},
      {"de_DE", 1234.5678, 1, 2, "1.234,57"},
      {"fr_FR", 0.5, 1, 1, "0,5"},
  };
  for (const Case& c : cases) {
    auto formatter = Formatter(c.locale, c.minFraction, c.maxFraction);
    auto text = CFRef<CFStringRef>::Adopt(
        CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), kCFNumberDoubleType, &c.value));
    EXPECT_EQ(Text(text.get()), c.text) << c.locale << " " << c.value;
  }
}

TEST(NumberFormatter, IntegersFormatExactlyAndLongTextIsWhole) {
  auto formatter = Formatter("en_US", 0, 0);
  const int64_t big = 9007199254740993;  // not representable as a double
  auto text = CFRef<CFStringRef>::Adopt(
      CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), kCFNumberSInt64Type, &big));
  EXPECT_EQ(Text(text.get()), "9,007,199,254,740,993");
  const int16_t small = -7;
  text.reset(CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), kCFNumberSInt16Type, &small));
  EXPECT_EQ(Text(text.get()), "-7");

  // Longer than a first guess at the buffer.
  auto wide = Formatter("en_US", 40, 40);
  const double third = 1.0 / 3.0;
  text.reset(CFNumberFormatterCreateStringWithValue(nullptr, wide.get(), kCFNumberDoubleType, &third));
  EXPECT_EQ(Text(text.get()).size(), 42u);
  EXPECT_EQ(Text(text.get()).substr(0, 10), "0.33333333");

  EXPECT_EQ(CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), 99, &big), nullptr);
  EXPECT_EQ(CFNumberFormatterCreateStringWithValue(nullptr, formatter.get(), kCFNumberSInt64Type, nullptr), nullptr);
}

TEST(NumberFormatter, FractionDigitPropertiesStayConsistent) {
  auto formatter = Formatter("en_US", 1, 3);
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMinFractionDigits), 1);
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMaxFractionDigits), 3);

  // A maximum below the minimum pulls the minimum down; negative counts are 0.
  int32_t negative = -5;
  auto negativeN = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &negative));
  CFNumberFormatterSetProperty(formatter.get(), kCFNumberFormatterMaxFractionDigits, negativeN.get());
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMaxFractionDigits), 0);
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMinFractionDigits), 0);

  // Keys match by content; values that are no number are ignored.
  double two = 2.0;
  auto twoN = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &two));
  CFNumberFormatterSetProperty(formatter.get(), Str("kCFNumberFormatterMaxFractionDigits").get(), twoN.get());
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMaxFractionDigits), 2);
  CFNumberFormatterSetProperty(formatter.get(), kCFNumberFormatterMaxFractionDigits, Str("7").get());
  EXPECT_EQ(Property(formatter.get(), kCFNumberFormatterMaxFractionDigits), 2);
  EXPECT_EQ(CFNumberFormatterCopyProperty(formatter.get(), Str("NoSuchKey").get()), nullptr);
}

TEST(NumberFormatter, ParsesWholeStringsInTheLocale) {
  struct Case {
    const char* locale;
    const char* text;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"en_US", "1,234.5", 1234.5},
      {"de_DE", "1.234,5", 1234.5},
      {"de_DE", "440,5", 440.5},
      {"C", "12345.5", 12345.5},
      {"en_US", "-3", -3.0},
      {"en_US", " 440\t", 440.0},
      {"en_US", "440 Hz", std::nullopt},
      {"en_US", "abc", std::nullopt},
      {"en_US", "", std::nullopt},
      {"en_US", "   ", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.locale, c.text), c.value) << c.locale << " '" << c.text << "'";
}

TEST(NumberFormatter, ParsesWithinARangeAndReportsWhatItRead) {
  auto formatter = Formatter("en_US", 0, 6);
  auto s = Str("x=2.5; rest");
  double value = 0.0;
  CFRange range = CFRangeMake(2, 9);
  ASSERT_TRUE(CFNumberFormatterGetValueFromString(formatter.get(), s.get(), &range, kCFNumberDoubleType, &value));
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(range.location, 2);
  EXPECT_EQ(range.length, 3);

  // Lengths count UTF-8 bytes: the number after a two-byte character.
  auto umlaut = Str("\xC3\xBC" "12 kg");
  range = CFRangeMake(2, CFStringGetLength(umlaut.get()) - 2);
  ASSERT_TRUE(CFNumberFormatterGetValueFromString(formatter.get(), umlaut.get(), &range, kCFNumberDoubleType, &value));
  EXPECT_EQ(value, 12.0);
  EXPECT_EQ(range.length, 2);

  const CFRange refused[] = {{1, 3}, {-1, 2}, {2, 100}, {20, 0}, {2, -1}};  // splits a character; outside
  for (CFRange r : refused) {
    EXPECT_FALSE(CFNumberFormatterGetValueFromString(formatter.get(), umlaut.get(), &r, kCFNumberDoubleType, &value))
        << r.location << "+" << r.length;
  }
}

TEST(NumberFormatter, IntegerTypesTakeOnlyWholeNumbers) {
  auto formatter = Formatter("en_US", 0, 6);
  int32_t i = 0;
  EXPECT_TRUE(CFNumberFormatterGetValueFromString(formatter.get(), Str("1,042").get(), nullptr, kCFNumberSInt32Type, &i));
  EXPECT_EQ(i, 1042);
  EXPECT_FALSE(CFNumberFormatterGetValueFromString(formatter.get(), Str("2.5").get(), nullptr, kCFNumberSInt32Type, &i));
  EXPECT_FALSE(
      CFNumberFormatterGetValueFromString(formatter.get(), Str("5000000000").get(), nullptr, kCFNumberSInt32Type, &i));
  float f = 0.0f;
  EXPECT_TRUE(CFNumberFormatterGetValueFromString(formatter.get(), Str("0.1").get(), nullptr, kCFNumberFloatType, &f));
  EXPECT_EQ(f, 0.1f);
}

TEST(NumberFormatter, CreationAndNullArguments) {
  EXPECT_EQ(CFNumberFormatterCreate(nullptr, Locale("en_US").get(), 0), nullptr);
  EXPECT_EQ(CFNumberFormatterCreate(nullptr, Locale("en_US").get(), 2), nullptr);

  // Without a locale: plain POSIX digits.
  auto plain = CFRef<CFNumberFormatterRef>::Adopt(CFNumberFormatterCreate(nullptr, nullptr, kCFNumberFormatterDecimalStyle));
  ASSERT_TRUE(plain);
  EXPECT_EQ(Text(CFLocaleGetIdentifier(CFNumberFormatterGetLocale(plain.get()))), "en_US_POSIX");
  const double v = 12345.0;
  EXPECT_EQ(Text(CFRef<CFStringRef>::Adopt(
                     CFNumberFormatterCreateStringWithValue(nullptr, plain.get(), kCFNumberDoubleType, &v))
                     .get()),
            "12345");

  // The formatter holds its own reference to the locale.
  CFLocaleRef locale = CFLocaleCreate(nullptr, Str("de_DE").get());
  auto formatter = CFRef<CFNumberFormatterRef>::Adopt(CFNumberFormatterCreate(nullptr, locale, kCFNumberFormatterDecimalStyle));
  EXPECT_EQ(CFGetRetainCount(locale), 2);
  CFRelease(locale);
  EXPECT_EQ(Text(CFLocaleGetIdentifier(CFNumberFormatterGetLocale(formatter.get()))), "de_DE");
  EXPECT_EQ(CFGetTypeID(formatter.get()), CFNumberFormatterGetTypeID());

  double value = 0.0;
  EXPECT_FALSE(CFNumberFormatterGetValueFromString(formatter.get(), nullptr, nullptr, kCFNumberDoubleType, &value));
  EXPECT_FALSE(CFNumberFormatterGetValueFromString(formatter.get(), Str("1").get(), nullptr, 99, &value));
}
