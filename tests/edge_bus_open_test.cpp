// Plug-ins opened while the session bus hangs: neither a native open nor an
// LV2 instantiate waits for the bus, and once a bus comes up at the same
// address, levels posted on it reach both.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "effect/ModulationReport.h"
#include "lv2/Lv2Ports.h"
#include "support/Lv2Controls.h"
#include "platform/AudioUnitHost.h"
#include "platform/Notifications.h"
#include "support/Eventually.h"
#include "support/PrivateBus.h"
#include "support/StuckBus.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

// Ends the process when a call has not returned long after it should have:
// a call stuck waiting for the bus cannot be abandoned any other way.
class HangGuard {
 public:
  HangGuard(const char* what, int seconds)
      : thread_([this, what, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return returned_; })) return;
          std::fprintf(stderr, "%s did not return within %d s\n", what, seconds);
          std::fflush(stderr);
          _exit(1);
        }) {}
  ~HangGuard() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      returned_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool returned_ = false;
  std::thread thread_;
};

constexpr uint32_t kBlock = 64;
// Far above the expected time (well under a millisecond), far below the bus
// library's own minute and a half.
constexpr int kGuardSeconds = 30;

TEST(EdgeBusOpen, PlugInsOpenWhileTheBusHangsAndHearLevelsOnceABusIsUp) {
  REQUIRE_BUNDLES();
  PrivateBus bus(PrivateBus::kDeferred);
  auto stuck = std::make_unique<StuckBus>(bus.SocketPath());
  setenv("QELVO_PLUGIN_PATH", QELVO_PLUGIN_BUILD_DIR, 1);
  setenv("QELVO_PLUGIN_PATH_ONLY", "1", 1);
  setenv("LV2_PATH", QELVO_LV2_BUILD_DIR, 1);

  ComponentInstance unit = nullptr;
  {
    HangGuard guard("the native open", kGuardSeconds);
    ASSERT_EQ(QelvoOpenComponent("AUQelvoBS7", &unit), noErr);
  }
  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* uri = lilv_new_uri(world, (std::string(kLv2UriBase) + "AUQelvoBS7").c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  ASSERT_NE(plugin, nullptr);
  LilvInstance* instance = nullptr;
  {
    HangGuard guard("the LV2 instantiate", kGuardSeconds);
    instance = lilv_plugin_instantiate(plugin, 48000, nullptr);
  }
  ASSERT_NE(instance, nullptr);
  // Preset 0, "LCH Count-Gain": follows BS7V0.
  Lv2Controls controls = Lv2ControlValues(0, 1);
  for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
  std::vector<float> in(kBlock, 0.25f), out(kBlock);
  for (uint32_t c = 0; c < 2; ++c) {
    lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data());
    lilv_instance_connect_port(instance, Lv2AudioOut(2, c), out.data());
  }
  lilv_instance_activate(instance);
  lilv_instance_run(instance, kBlock);

  // Both opened while the centre was still waiting for the stuck bus.
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  EXPECT_TRUE(Eventually([&] { return stuck->Accepted() > 0; })) << "the centre never tried the bus";
  EXPECT_FALSE(QelvoNotificationCenterIsConnected(center));

  // A working daemon takes the stuck one's place at the same address; the
  // centre gets there by itself.
  stuck.reset();
  bus.Start();
  ASSERT_TRUE(Eventually([&] { return QelvoNotificationCenterIsConnected(center); }, std::chrono::seconds(30)));
  const ToolResult post = RunTool({kQelvo, "post", "BS7V0", "12.5"});
  ASSERT_EQ(post.status, 0) << post.err;

  ModulationReport report{};
  EXPECT_TRUE(Eventually([&] {
    UInt32 size = sizeof report;
    return AudioUnitGetProperty(unit, kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report, &size) ==
               noErr &&
           report.mLevel == 12.5;
  })) << "the native unit's last level is " << report.mLevel;
  EXPECT_TRUE(Eventually([&] {
    lilv_instance_run(instance, kBlock);
    return controls[kLv2PortLevel] == 12.5f;
  })) << "the LV2 plug-in's last level is " << controls[kLv2PortLevel];

  lilv_instance_deactivate(instance);
  lilv_instance_free(instance);
  lilv_node_free(uri);
  lilv_world_free(world);
  EXPECT_EQ(CloseComponent(unit), noErr);
}

}  // namespace
