// A host program that defines and exports variables under the plain names of
// the value library's constants (support/HostSymbolClash.cpp, linked with
// -rdynamic): a read-only kCFNumberFormatterMaxFractionDigits and
// kCFTypeDictionaryKeyCallBacks that keep nothing alive. The runtime and the
// plug-ins must not use them: loading a plug-in through the component loader
// and through an LV2 host works, levels posted in the process are applied,
// and a saved state survives a round trip.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef QELVO_LV2_BUILD_DIR
#include <lilv/lilv.h>
#endif

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "effect/ModulationReport.h"
#include "lv2/Lv2Ports.h"
#include "support/Lv2Controls.h"
#include "platform/AudioUnitHost.h"
#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/PrivateBusEnvironment.h"

const void* HostMaxFractionDigitsAddress();
const void* HostDictionaryKeyCallBacksAddress();

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

// Posts BS7V0 = level in this process, as the analyser would.
void PostLevel(double level) {
  CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  const void* keys[] = {CFSTR("Kest Symbol"), CFSTR("New Level")};
  const void* values[] = {CFSTR("BS7V0"), number.get()};
  CFRef<CFDictionaryRef> info = CFRef<CFDictionaryRef>::Adopt(
      CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(),
                                       CFSTR("Kest Level Changed Notification"), nullptr, info.get(), true);
}

template <class Done>
bool WaitFor(Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TEST(EdgeHostSymbols, TheRuntimesConstantsAreItsOwn) {
  EXPECT_NE(static_cast<const void*>(&kCFTypeDictionaryKeyCallBacks), HostDictionaryKeyCallBacksAddress());
  EXPECT_NE(static_cast<const void*>(&kCFNumberFormatterMaxFractionDigits), HostMaxFractionDigitsAddress());
  ASSERT_NE(kCFNumberFormatterMaxFractionDigits, nullptr);
  // The formatter knows its key; a dictionary keeps what it is given.
  CFRef<CFNumberFormatterRef> formatter = CFRef<CFNumberFormatterRef>::Adopt(
      CFNumberFormatterCreate(nullptr, nullptr, kCFNumberFormatterDecimalStyle));
  SInt32 digits = 3;
  CFRef<CFNumberRef> three = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &digits));
  CFNumberFormatterSetProperty(formatter.get(), kCFNumberFormatterMaxFractionDigits, three.get());
  CFRef<CFTypeRef> read =
      CFRef<CFTypeRef>::Adopt(CFNumberFormatterCopyProperty(formatter.get(), kCFNumberFormatterMaxFractionDigits));
  EXPECT_TRUE(CFEqual(read.get(), three.get()));
}

TEST(EdgeHostSymbols, APluginThroughTheLoaderFollowsLevelsAndKeepsItsState) {
  AudioUnit unit = nullptr;
  ASSERT_EQ(QelvoOpenComponent("AUQelvoBS7", &unit), noErr) << QelvoComponentLoaderLastError();
  const AUPreset gainPreset{0, nullptr};  // "LCH Count-Gain": BS7V0 x 0.3 drives the gain
  ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &gainPreset,
                                 sizeof gainPreset),
            noErr);

  ModulationReport report{};
  auto read = [&] {
    UInt32 size = sizeof report;
    return AudioUnitGetProperty(unit, kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report, &size) ==
           noErr;
  };
  PostLevel(10.0);
  EXPECT_TRUE(WaitFor([&] { return read() && report.mLevel == 10.0; })) << "the level never reached the unit";
  EXPECT_EQ(report.mGainFactor, 0.3f);

  // A saved state is a dictionary the plug-in builds: it must hold its values.
  CFPropertyListRef state = nullptr;
  UInt32 size = sizeof state;
  ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, &size), noErr);
  CFRef<CFDictionaryRef> dict = CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(state));
  CFTypeRef data = CFDictionaryGetValue(dict.get(), CFSTR("data"));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(data)), 36);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, sizeof state),
            noErr);
  EXPECT_EQ(CloseComponent(unit), noErr);
}

TEST(EdgeHostSymbols, APluginThroughAnLv2HostFollowsLevels) {
#ifndef QELVO_LV2_BUILD_DIR
  GTEST_SKIP() << "built without lilv or the LV2 bundles";
#else
  setenv("LV2_PATH", QELVO_LV2_BUILD_DIR, 1);
  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* uri = lilv_new_uri(world, (std::string(kLv2UriBase) + "AUQelvoBS7").c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  lilv_node_free(uri);
  ASSERT_NE(plugin, nullptr);
  LilvInstance* instance = lilv_plugin_instantiate(plugin, 48000, nullptr);
  ASSERT_NE(instance, nullptr);
  Lv2Controls controls = Lv2ControlValues(0, 1);  // preset 0: gain mode
  for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
  std::vector<float> in(64, 0.5f), out(64);
  for (uint32_t c = 0; c < 2; ++c) {
    lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data());
    lilv_instance_connect_port(instance, Lv2AudioOut(2, c), out.data());
  }
  lilv_instance_activate(instance);
  PostLevel(10.0);
  EXPECT_TRUE(WaitFor([&] {
    lilv_instance_run(instance, 64);
    return controls[kLv2PortLevel] == 10.0f;
  })) << "the level never reached the plug-in";
  lilv_instance_run(instance, 64);
  EXPECT_EQ(controls[kLv2PortGainFactor], 0.3f);
  EXPECT_EQ(out[0], (0.5f * 1.0f) * 0.3f);
  lilv_instance_deactivate(instance);
  lilv_instance_free(instance);
  lilv_world_free(world);
#endif
}

}  // namespace
