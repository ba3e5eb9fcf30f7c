// Preset and bypass changes applied off the audio thread while it renders:
// through the shared thread of hosts without a worker while other instances
// come and go, and through a host worker thread. Runs under ThreadSanitizer.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lv2/Lv2Ports.h"
#include "support/Lv2Controls.h"
#include "support/Lv2TestFeatures.h"

namespace {

const std::string kUri = std::string(kLv2UriBase) + "AUQelvoBS7";

struct World {
  LilvWorld* world = lilv_world_new();
  World() { lilv_world_load_all(world); }
  ~World() { lilv_world_free(world); }
  const LilvPlugin* Plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world, uri.c_str());
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    return plugin;
  }
};

struct Instance {
  LilvInstance* instance;
  Lv2Controls controls = Lv2ControlValues(0, 1);
  std::vector<float> in = std::vector<float>(256, 0.25f), out = std::vector<float>(256);

  Instance(const LilvPlugin* plugin, const LV2_Feature* const* features, uint32_t channels, float preset = 0)
      : instance(lilv_plugin_instantiate(plugin, 44100, features)) {
    if (instance == nullptr) return;
    controls[kLv2PortPreset] = preset;
    for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
    for (uint32_t c = 0; c < channels; ++c) {
      lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data());
      lilv_instance_connect_port(instance, Lv2AudioOut(channels, c), out.data());
    }
    lilv_instance_activate(instance);
  }
  ~Instance() {
    if (instance == nullptr) return;
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
  }
  // Runs until the outputs show the mode the preset asks for.
  bool Settles(float mode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      lilv_instance_run(instance, 256);
      if (controls[kLv2PortMode] == mode) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

// Flips preset and bypass on every few blocks, then settles on preset 1.
void Automate(Instance& instance, int blocks) {
  for (int i = 0; i < blocks; ++i) {
    instance.controls[kLv2PortPreset] = static_cast<float>((i / 7) % 4);
    instance.controls[kLv2PortEnabled] = (i / 11) % 2 ? 0.0f : 1.0f;
    lilv_instance_run(instance.instance, 256);
  }
  instance.controls[kLv2PortPreset] = 1;
  instance.controls[kLv2PortEnabled] = 1;
}

TEST(Lv2ControlConcurrency, SharedThreadAppliesWhileInstancesComeAndGo) {
  World world;
  const LilvPlugin* stereo = world.Plugin(kUri);
  const LilvPlugin* mono = world.Plugin(kUri + kLv2MonoSuffix);
  ASSERT_TRUE(stereo && mono);
  std::mutex lilvLock;  // the world is not for two threads at once
  std::vector<std::unique_ptr<Instance>> rendered;
  for (int i = 0; i < 2; ++i) {
    rendered.push_back(std::make_unique<Instance>(stereo, nullptr, 2));
    ASSERT_NE(rendered.back()->instance, nullptr);
  }
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done.load()) {
      std::lock_guard lock(lilvLock);
      // Preset 1, as the others settle on: the mode is shared by every
      // instance of a plug-in in the process, and activating one with
      // another preset would switch theirs too.
      Instance passing(mono, nullptr, 1, 1);
      EXPECT_NE(passing.instance, nullptr);
      if (passing.instance != nullptr) lilv_instance_run(passing.instance, 256);
    }
  });
  std::vector<std::thread> audio;
  for (auto& instance : rendered) audio.emplace_back([&instance] { Automate(*instance, 1500); });
  for (auto& thread : audio) thread.join();
  done = true;
  churn.join();
  for (auto& instance : rendered) EXPECT_TRUE(instance->Settles(1.0f));
  std::lock_guard lock(lilvLock);
  rendered.clear();
}

// A host worker as hosts have it: a thread of its own running work() while
// the audio thread keeps rendering.
class ThreadedWorker {
 public:
  ~ThreadedWorker() { Stop(); }
  LV2_Worker_Schedule* feature() { return &schedule_; }
  void Start(const LV2_Worker_Interface* iface, LV2_Handle handle) {
    thread_ = std::thread([this, iface, handle] {
      while (!stop_.load()) {
        if (requests_.exchange(0) > 0) iface->work(handle, Respond, nullptr, 0, nullptr);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  static LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle handle, uint32_t, const void*) {
    static_cast<ThreadedWorker*>(handle)->requests_.fetch_add(1);
    return LV2_WORKER_SUCCESS;
  }
  static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }
  std::atomic<int> requests_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  LV2_Worker_Schedule schedule_{this, Schedule};
};

TEST(Lv2ControlConcurrency, HostWorkerAppliesWhileTheAudioThreadRenders) {
  World world;
  TestUridMap map;
  ThreadedWorker worker;
  const LV2_Feature mapFeature{LV2_URID__map, map.feature()}, workFeature{LV2_WORKER__schedule, worker.feature()};
  const LV2_Feature* features[] = {&mapFeature, &workFeature, nullptr};
  Instance instance(world.Plugin(kUri), features, 2);
  ASSERT_NE(instance.instance, nullptr);
  const auto* iface = static_cast<const LV2_Worker_Interface*>(
      lilv_instance_get_extension_data(instance.instance, LV2_WORKER__interface));
  ASSERT_NE(iface, nullptr);
  worker.Start(iface, lilv_instance_get_handle(instance.instance));
  std::thread audio([&] { Automate(instance, 3000); });
  audio.join();
  EXPECT_TRUE(instance.Settles(1.0f));
  worker.Stop();
}

}  // namespace
