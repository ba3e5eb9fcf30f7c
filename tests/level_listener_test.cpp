#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <variant>

#include "effect/KestNotificationObserver.h"
#include "effect/ModulationState.h"
#include "platform/CFRef.h"

// Test programs are the band-7 deliverable (variant index 6).

namespace {

constexpr int32_t kModeSentinel = 7;
constexpr float kGainSentinel = 1.25f;
constexpr double kCutoffSentinel = 3.5;

// What a user-info entry holds; monostate leaves the key out.
using Entry = std::variant<std::monostate, const char*, int32_t, float, double>;

CFTypeRef MakeValue(const Entry& e) {
  if (auto* s = std::get_if<const char*>(&e)) return CFStringCreateWithCString(nullptr, *s, kCFStringEncodingUTF8);
  if (auto* i = std::get_if<int32_t>(&e)) return CFNumberCreate(nullptr, kCFNumberSInt32Type, i);
  if (auto* f = std::get_if<float>(&e)) return CFNumberCreate(nullptr, kCFNumberFloat32Type, f);
  if (auto* d = std::get_if<double>(&e)) return CFNumberCreate(nullptr, kCFNumberDoubleType, d);
  return nullptr;
}

CFRef<CFMutableDictionaryRef> MakeUserInfo(const Entry& symbol, const Entry& level) {
  auto info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (auto v = CFRef<CFTypeRef>::Adopt(MakeValue(symbol))) CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), v.get());
  if (auto v = CFRef<CFTypeRef>::Adopt(MakeValue(level))) CFDictionarySetValue(info.get(), CFSTR("New Level"), v.get());
  return info;
}

struct CallbackCase {
  const char* what;
  int32_t preset;
  bool userInfo;  // false: the notification carries none
  Entry symbol;
  Entry level;
  int32_t mode;                   // testX afterwards
  std::optional<float> gain;      // nullopt: unchanged
  std::optional<double> cutoff;   // nullopt: unchanged
};

class Callback : public ::testing::TestWithParam<CallbackCase> {};

TEST_P(Callback, SelectsReassertsModeAndMaps) {
  const CallbackCase& c = GetParam();
  kPresetDefaultIndexX.store(c.preset);
  testX.store(kModeSentinel);
  gainX.store(kGainSentinel);
  cutoffX.store(kCutoffSentinel);

  CFRef<CFMutableDictionaryRef> info;
  if (c.userInfo) info = MakeUserInfo(c.symbol, c.level);
  myCallback(nullptr, nullptr, CFSTR("Kest Level Changed Notification"), nullptr, info.get());

  EXPECT_EQ(testX.load(), c.mode) << c.what;
  EXPECT_EQ(gainX.load(), c.gain.value_or(kGainSentinel)) << c.what;
  EXPECT_EQ(cutoffX.load(), c.cutoff.value_or(kCutoffSentinel)) << c.what;
  EXPECT_EQ(kPresetDefaultIndexX.load(), c.preset) << c.what;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Band7, Callback,
    ::testing::Values(
        CallbackCase{"matching V0", 0, true, "BS7V0", int32_t(10), 0, 0.3f, 0.5},
        CallbackCase{"other measure of the band", 0, true, "BS7F0", int32_t(10), 0, {}, {}},
        CallbackCase{"F0 in filter mode", 3, true, "BS7F0", int32_t(40), 1, 0.6f, 1.0},
        CallbackCase{"coherence F4, limits not reached", 11, true, "BS7F4", int32_t(100), 1, 1.5f, 2.5},
        CallbackCase{"channel 1 V, negative level", 4, true, "BS7V1", -10.0, 0, -0.3f, -0.5},
        CallbackCase{"channel 1 F", 6, true, "BS7F1", int32_t(10), 0, 0.15f, 0.25},
        CallbackCase{"V4 limited", 9, true, "BS7V4", 1000.0, 1, 2.0f, 10.0},
        CallbackCase{"other band", 0, true, "BS6V0", int32_t(10), 0, {}, {}},
        CallbackCase{"peak key in a band build", 0, true, "peakLV", int32_t(10), 0, {}, {}},
        CallbackCase{"symbols compare exactly", 0, true, "bs7v0", int32_t(10), 0, {}, {}},
        CallbackCase{"symbol with a suffix", 0, true, "BS7V0 ", int32_t(10), 0, {}, {}},
        CallbackCase{"no user info, gain preset", 0, false, {}, {}, 0, {}, {}},
        CallbackCase{"no user info, filter preset", 1, false, {}, {}, 1, {}, {}},
        CallbackCase{"no symbol", 1, true, {}, int32_t(10), 1, {}, {}},
        CallbackCase{"symbol not a string", 0, true, int32_t(10), int32_t(10), 0, {}, {}},
        CallbackCase{"matching, no level maps 0", 0, true, "BS7V0", {}, 0, 0.0f, 0.0},
        CallbackCase{"level as a 32-bit float", 0, true, "BS7V0", 2.5f, 0, 0.075f, 0.125},
        CallbackCase{"level as a 64-bit float", 2, true, "BS7F0", 10.0, 0, 0.15f, 0.25},
        CallbackCase{"level not a number counts 0", 1, true, "BS7V0", "10", 1, 0.0f, 0.0},
        CallbackCase{"NaN level keeps the factors", 1, true, "BS7V0", kNaN, 1, {}, {}},
        CallbackCase{"infinite level keeps the factors", 0, true, "BS7V0", kInf, 0, {}, {}},
        CallbackCase{"negative infinite level keeps the factors", 0, true, "BS7V0", -kInf, 0, {}, {}},
        // A preset outside the band family writes nothing, not even the mode.
        CallbackCase{"preset above the family", 12, true, "BS7V0", int32_t(10), kModeSentinel, {}, {}},
        CallbackCase{"negative preset", -1, true, "BS7V0", int32_t(10), kModeSentinel, {}, {}},
        CallbackCase{"peak-sized preset table does not apply", 4, true, "BS7V1", int32_t(10), 0, 0.3f, 0.5}),
    [](const ::testing::TestParamInfo<CallbackCase>& info) { return "case" + std::to_string(info.index); });

// A repeated notification leaves the state of a single one.
TEST(CallbackRepeat, IsIdempotent) {
  kPresetDefaultIndexX.store(0);
  CFRef<CFMutableDictionaryRef> info = MakeUserInfo("BS7V0", 7.5);
  myCallback(nullptr, nullptr, nullptr, nullptr, info.get());
  const float gain = gainX.load();
  const double cutoff = cutoffX.load();
  for (int i = 0; i < 3; ++i) myCallback(nullptr, nullptr, nullptr, nullptr, info.get());
  EXPECT_EQ(gainX.load(), gain);
  EXPECT_EQ(cutoffX.load(), cutoff);
  EXPECT_EQ(testX.load(), 0);
}

// The kernel may force filter mode; the next notification writes the preset's mode back.
TEST(CallbackMode, NotificationUndoesForcedFilterMode) {
  kPresetDefaultIndexX.store(2);
  testX.store(1);
  CFRef<CFMutableDictionaryRef> info = MakeUserInfo("BS5F0", int32_t(1));
  myCallback(nullptr, nullptr, nullptr, nullptr, info.get());
  EXPECT_EQ(testX.load(), 0);
}

}  // namespace
