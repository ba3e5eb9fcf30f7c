// Every LV2 plug-in of the edition in an in-process host: odd block lengths,
// several sample rates, random control automation. The output must stay
// finite and free of denormals, and run() must not allocate. Also what hosts
// rely on beyond that: the presets, the worker, and the descriptions telling
// what the plug-ins do.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/presets/presets.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lv2/Lv2Control.h"
#include "lv2/Lv2Ports.h"
#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/Lv2Controls.h"
#include "support/Lv2TestFeatures.h"
#include "support/PrivateBusEnvironment.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
// Counts allocations made by the thread that is inside run().
thread_local bool tCounting = false;
thread_local long tAllocations = 0;
}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" void* malloc(size_t n) {
  if (tCounting) ++tAllocations;
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  if (tCounting) ++tAllocations;
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  if (tCounting) ++tAllocations;
  return __libc_realloc(p, n);
}
constexpr bool kCountsAllocations = true;
#else
constexpr bool kCountsAllocations = false;
#endif

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

struct World {
  LilvWorld* world = lilv_world_new();
  World() { lilv_world_load_all(world); }
  ~World() { lilv_world_free(world); }
};

World& TheWorld() {
  static World world;
  return world;
}

std::vector<std::string> EditionUris() {
  std::vector<std::string> uris;
  const LilvPlugins* plugins = lilv_world_get_all_plugins(TheWorld().world);
  LILV_FOREACH(plugins, i, plugins) {
    const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(lilv_plugins_get(plugins, i)));
    if (uri.rfind(kLv2UriBase, 0) == 0) uris.push_back(uri);
  }
  return uris;
}

const LilvPlugin* PluginOf(const std::string& uri) {
  LilvNode* node = lilv_new_uri(TheWorld().world, uri.c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(TheWorld().world), node);
  lilv_node_free(node);
  return plugin;
}

bool IsMono(const std::string& uri) {
  const std::string suffix = kLv2MonoSuffix;
  return uri.size() > suffix.size() && uri.compare(uri.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(Lv2Edition, AllocationCounterSeesAnAllocation) {
  if (!kCountsAllocations) GTEST_SKIP() << "the sanitizer owns malloc";
  static void* volatile sink;
  tAllocations = 0;
  tCounting = true;
  sink = std::malloc(16);
  tCounting = false;
  std::free(sink);
  EXPECT_EQ(tAllocations, 1);
}

TEST(Lv2Edition, ListsAStereoAndAMonoPluginPerDeliverable) {
  const auto uris = EditionUris();
  size_t mono = 0;
  for (const auto& uri : uris) mono += IsMono(uri);
  EXPECT_EQ(uris.size(), 20u);
  EXPECT_EQ(mono * 2, uris.size());
}

// The gain factor output reaches -2 for negative levels; the declared range
// must hold every value the port can show.
TEST(Lv2Edition, TheGainFactorOutputDeclaresTheRangeItCanTake) {
  for (const auto& uri : EditionUris()) {
    LilvNode* node = lilv_new_uri(TheWorld().world, uri.c_str());
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(TheWorld().world), node);
    lilv_node_free(node);
    ASSERT_NE(plugin, nullptr) << uri;
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range(plugin, lilv_plugin_get_port_by_index(plugin, kLv2PortGainFactor), &def, &min, &max);
    ASSERT_TRUE(min != nullptr && max != nullptr) << uri;
    EXPECT_EQ(lilv_node_as_float(min), -2.0f) << uri;
    EXPECT_EQ(lilv_node_as_float(max), 2.0f) << uri;
    lilv_node_free(def);
    lilv_node_free(min);
    lilv_node_free(max);
  }
}

struct Automation {
  float cutoff, resonance, gain, preset, enabled;
};

TEST(Lv2Edition, RendersEveryPluginOverBlockLengthsAndRatesWithAutomation) {
  const auto uris = EditionUris();
  ASSERT_FALSE(uris.empty());
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const uint32_t blocks[] = {1, 64, 256, 1024};
  const double rates[] = {22050, 44100, 48000, 96000};

  for (const auto& uri : uris) {
    LilvNode* node = lilv_new_uri(TheWorld().world, uri.c_str());
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(TheWorld().world), node);
    lilv_node_free(node);
    ASSERT_NE(plugin, nullptr) << uri;
    const uint32_t channels = IsMono(uri) ? 1 : 2;
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), Lv2PortCount(channels)) << uri;

    for (double rate : rates) {
      // No features at all: the wrapper has to cope without a URID map.
      LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, nullptr);
      ASSERT_NE(instance, nullptr) << uri << " at " << rate;
      Lv2Controls controls = Lv2ControlValues(0, 1);
      for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
      std::vector<std::vector<float>> in(channels, std::vector<float>(1024)), out = in;
      for (uint32_t c = 0; c < channels; ++c) {
        lilv_instance_connect_port(instance, Lv2AudioIn(c), in[c].data());
        lilv_instance_connect_port(instance, Lv2AudioOut(channels, c), out[c].data());
      }
      lilv_instance_activate(instance);
      for (uint32_t block : blocks) {
        for (int round = 0; round < 24; ++round) {
          // Wide values on purpose: beyond the ranges, extreme resonance, gain near zero.
          controls[kLv2PortCutoff] = 5.0f + unit(random) * 60000.0f;
          controls[kLv2PortResonance] = -30.0f + unit(random) * 60.0f;
          controls[kLv2PortGain] = round % 5 == 0 ? 0.005f : unit(random);
          controls[kLv2PortPreset] = std::floor(unit(random) * 14.0f) - 1.0f;
          controls[kLv2PortEnabled] = round % 7 == 3 ? 0.0f : 1.0f;
          for (uint32_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < block; ++i) {
              // Loud noise, silence, and tails decaying into the denormal range.
              in[c][i] = round % 3 == 0 ? 0.0f : (unit(random) * 2.0f - 1.0f) * (round % 4 == 1 ? 1e-30f : 1.0f);
            }
          }
          tAllocations = 0;
          tCounting = true;
          lilv_instance_run(instance, block);
          tCounting = false;
          if (kCountsAllocations) {
            EXPECT_EQ(tAllocations, 0) << uri << " block " << block << " at " << rate;
          }
          for (uint32_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < block; ++i) {
              const float v = out[c][i];
              ASSERT_TRUE(std::isfinite(v)) << uri << " block " << block << " at " << rate;
              ASSERT_FALSE(std::fpclassify(v) == FP_SUBNORMAL) << uri << " block " << block << " at " << rate;
            }
          }
          EXPECT_TRUE(controls[kLv2PortMode] == 0.0f || controls[kLv2PortMode] == 1.0f) << uri;
        }
      }
      lilv_instance_deactivate(instance);
      lilv_instance_free(instance);
    }
  }
}

// A level posted on the bus reaches the native unit's listener; the outputs
// show what it did.
TEST(Lv2Edition, OutputsShowTheModulationALevelCauses) {
  LilvNode* node = lilv_new_uri(TheWorld().world, (std::string(kLv2UriBase) + "AUQelvoBS7").c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(TheWorld().world), node);
  lilv_node_free(node);
  ASSERT_NE(plugin, nullptr);
  LilvInstance* instance = lilv_plugin_instantiate(plugin, 44100, nullptr);
  ASSERT_NE(instance, nullptr);
  // Preset 1, "LCH Count-Filter": follows BS7V0, level x 0.3 drives the cutoff.
  Lv2Controls controls = Lv2ControlValues(1, 1);
  for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
  std::vector<float> in(64, 0.25f), out(64);
  for (uint32_t c = 0; c < 2; ++c) {
    lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data());
    lilv_instance_connect_port(instance, Lv2AudioOut(2, c), out.data());
  }
  lilv_instance_activate(instance);
  lilv_instance_run(instance, 64);
  EXPECT_EQ(controls[kLv2PortMode], 1.0f);
  EXPECT_EQ(controls[kLv2PortCutoffFactor], 1.0f);

  double level = 10.0;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  const void* keys[] = {CFSTR("Kest Symbol"), CFSTR("New Level")};
  const void* values[] = {CFSTR("BS7V0"), number.get()};
  auto info = CFRef<CFDictionaryRef>::Adopt(CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks));
  CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(),
                                       CFSTR("Kest Level Changed Notification"), nullptr, info.get(), true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (controls[kLv2PortLevel] != 10.0f && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    lilv_instance_run(instance, 64);
  }
  EXPECT_EQ(controls[kLv2PortLevel], 10.0f);
  EXPECT_EQ(controls[kLv2PortCutoffFactor], static_cast<float>(static_cast<double>(3.0f) / 6.0));
  EXPECT_EQ(controls[kLv2PortGainFactor], 0.3f);
  EXPECT_EQ(controls[kLv2PortMode], 1.0f);
  lilv_instance_deactivate(instance);
  lilv_instance_free(instance);
}

// Hosts may connect an input and an output port to one buffer; the unit
// reads the input ports where they are, so that must change nothing.
TEST(Lv2Edition, InPlacePortsRenderLikeSeparateOnes) {
  LilvNode* node = lilv_new_uri(TheWorld().world, (std::string(kLv2UriBase) + "AUQelvoBS7").c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(TheWorld().world), node);
  lilv_node_free(node);
  ASSERT_NE(plugin, nullptr);
  std::mt19937 random(3);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<float> input(2 * 512);
  for (float& v : input) v = unit(random);

  auto render = [&](bool inPlace, float enabled) {
    LilvInstance* instance = lilv_plugin_instantiate(plugin, 48000, nullptr);
    EXPECT_NE(instance, nullptr);
    if (instance == nullptr) return std::vector<float>();
    Lv2Controls controls = Lv2ControlValues(1, enabled, 0);
    controls[kLv2PortCutoff] = 700;
    controls[kLv2PortResonance] = 6;
    for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
    std::vector<float> in = input, out(input.size());
    for (uint32_t c = 0; c < 2; ++c) {
      lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data() + c * 512);
      lilv_instance_connect_port(instance, Lv2AudioOut(2, c), (inPlace ? in : out).data() + c * 512);
    }
    lilv_instance_activate(instance);
    lilv_instance_run(instance, 512);
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    return inPlace ? in : out;
  };
  for (float enabled : {1.0f, 0.0f}) {
    const std::vector<float> separate = render(false, enabled), shared = render(true, enabled);
    ASSERT_EQ(separate.size(), shared.size());
    EXPECT_EQ(std::memcmp(separate.data(), shared.data(), separate.size() * sizeof(float)), 0) << enabled;
    if (enabled == 0.0f) {
      EXPECT_EQ(separate, input) << "bypass passes the input through";
    }
  }
}

}  // namespace

namespace {

// ---- what hosts rely on besides rendering ----------------------------------------

struct Node {
  LilvNode* node;
  explicit Node(const char* uri) : node(lilv_new_uri(TheWorld().world, uri)) {}
  ~Node() { lilv_node_free(node); }
};

// Every factory preset is an LV2 preset of both plug-ins, labelled with the
// preset's name and setting the preset port to its number, nothing else.
TEST(Lv2Edition, FactoryPresetsAreLv2PresetsThatSetThePresetPort) {
  TestUridMap map;
  const Node presetClass(LV2_PRESETS__Preset), label("http://www.w3.org/2000/01/rdf-schema#label");
  for (const auto& uri : EditionUris()) {
    SCOPED_TRACE(uri);
    const LilvPlugin* plugin = PluginOf(uri);
    ASSERT_NE(plugin, nullptr);
    // The names the preset port offers, by number.
    LilvNode* symbol = lilv_new_string(TheWorld().world, "preset");
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
    lilv_node_free(symbol);
    ASSERT_NE(port, nullptr);
    std::map<std::string, float> numbers;
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    LILV_FOREACH(scale_points, i, points) {
      const LilvScalePoint* point = lilv_scale_points_get(points, i);
      numbers[lilv_node_as_string(lilv_scale_point_get_label(point))] =
          lilv_node_as_float(lilv_scale_point_get_value(point));
    }
    lilv_scale_points_free(points);
    ASSERT_FALSE(numbers.empty());

    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass.node);
    EXPECT_EQ(lilv_nodes_size(presets), numbers.size());
    std::map<std::string, int> seen;
    LILV_FOREACH(nodes, i, presets) {
      const LilvNode* preset = lilv_nodes_get(presets, i);
      ASSERT_GE(lilv_world_load_resource(TheWorld().world, preset), 0);
      LilvNodes* labels = lilv_world_find_nodes(TheWorld().world, preset, label.node, nullptr);
      ASSERT_EQ(lilv_nodes_size(labels), 1u) << lilv_node_as_uri(preset);
      const std::string name = lilv_node_as_string(lilv_nodes_get_first(labels));
      lilv_nodes_free(labels);
      ++seen[name];
      ASSERT_TRUE(numbers.contains(name)) << name;

      LilvState* state = lilv_state_new_from_world(TheWorld().world, map.feature(), preset);
      ASSERT_NE(state, nullptr) << name;
      std::vector<std::pair<std::string, float>> values;
      lilv_state_emit_port_values(
          state,
          [](const char* port, void* out, const void* value, uint32_t size, uint32_t) {
            auto* list = static_cast<std::vector<std::pair<std::string, float>>*>(out);
            list->emplace_back(port, size == sizeof(float) ? *static_cast<const float*>(value) : NAN);
          },
          &values);
      lilv_state_free(state);
      ASSERT_EQ(values.size(), 1u) << name << ": a factory preset sets no parameter";
      EXPECT_EQ(values[0].first, "preset");
      EXPECT_EQ(values[0].second, numbers[name]) << name;
    }
    lilv_nodes_free(presets);
    for (const auto& [name, count] : seen) EXPECT_EQ(count, 1) << name;
  }
}

// No feature is required, every declared extension is answered, and every
// control's default lies in its range.
TEST(Lv2Edition, DescriptionsMatchWhatThePluginsAnswer) {
  for (const auto& uri : EditionUris()) {
    SCOPED_TRACE(uri);
    const LilvPlugin* plugin = PluginOf(uri);
    ASSERT_NE(plugin, nullptr);
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);

    LilvInstance* instance = lilv_plugin_instantiate(plugin, 48000, nullptr);
    ASSERT_NE(instance, nullptr);
    LilvNodes* extensions = lilv_plugin_get_extension_data(plugin);
    EXPECT_GT(lilv_nodes_size(extensions), 0u);
    LILV_FOREACH(nodes, i, extensions) {
      const char* extension = lilv_node_as_uri(lilv_nodes_get(extensions, i));
      EXPECT_NE(lilv_instance_get_extension_data(instance, extension), nullptr) << extension;
    }
    lilv_nodes_free(extensions);
    lilv_instance_free(instance);

    for (uint32_t p = 0; p < kLv2PortMode; ++p) {
      LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
      lilv_port_get_range(plugin, lilv_plugin_get_port_by_index(plugin, p), &def, &min, &max);
      ASSERT_TRUE(def && min && max) << "port " << p;
      EXPECT_LE(lilv_node_as_float(min), lilv_node_as_float(def)) << "port " << p;
      EXPECT_LE(lilv_node_as_float(def), lilv_node_as_float(max)) << "port " << p;
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
    }
  }
}

size_t ThreadCount() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                           std::filesystem::directory_iterator()));
}

// The status file of the wrapper's shared thread, or empty when it does not run.
std::string FallbackThreadStatus() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == kLv2FallbackThreadName) return (task.path() / "status").string();
  }
  return {};
}

std::string StatusField(const std::string& status, const std::string& field) {
  std::ifstream in(status);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return line.substr(line.find_first_not_of(" \t", field.size() + 1));
  return {};
}

// Once the thread has gone to sleep, how often it has woken since it started.
long WakeUpsOnceAsleep(const std::string& status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (StatusField(status, "State").rfind("S", 0) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return std::stol(StatusField(status, "voluntary_ctxt_switches"));
}

// A stereo host instance of one plug-in with its ports on this object.
struct Hosted {
  LilvInstance* instance = nullptr;
  Lv2Controls controls = Lv2ControlValues(0, 1);
  std::vector<float> in = std::vector<float>(1024, 0.25f), out[2] = {std::vector<float>(1024), std::vector<float>(1024)};

  Hosted(const std::string& uri, const LV2_Feature* const* features) {
    instance = lilv_plugin_instantiate(PluginOf(uri), 44100, features);
    if (instance == nullptr) return;
    for (uint32_t p = 0; p < kLv2ControlPortCount; ++p) lilv_instance_connect_port(instance, p, &controls[p]);
    const uint32_t channels = IsMono(uri) ? 1 : 2;
    for (uint32_t c = 0; c < channels; ++c) {
      lilv_instance_connect_port(instance, Lv2AudioIn(c), in.data());
      lilv_instance_connect_port(instance, Lv2AudioOut(channels, c), out[c].data());
    }
    lilv_instance_activate(instance);
  }
  ~Hosted() {
    if (instance == nullptr) return;
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
  }
  // One block long enough for the outputs to read the unit again.
  float Mode() {
    lilv_instance_run(instance, 1024);
    return controls[kLv2PortMode];
  }
};

// A host with a worker gets the preset and bypass changes through it, once
// per change, and the plug-in starts no thread of its own.
TEST(Lv2Edition, PresetAndBypassChangesGoThroughTheHostsWorker) {
  const std::string uri = std::string(kLv2UriBase) + "AUQelvoBS7";
  TestUridMap map;
  TestWorker worker;
  const LV2_Feature mapFeature{LV2_URID__map, map.feature()}, workFeature{LV2_WORKER__schedule, worker.feature()};
  const LV2_Feature* features[] = {&mapFeature, &workFeature, nullptr};
  Hosted warmUp(uri, features);  // the runtime starts its own threads with its first unit
  ASSERT_NE(warmUp.instance, nullptr);
  const size_t threads = ThreadCount();

  Hosted hosted(uri, features);
  ASSERT_NE(hosted.instance, nullptr);
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(FallbackThreadStatus(), "");
  const auto* iface = static_cast<const LV2_Worker_Interface*>(
      lilv_instance_get_extension_data(hosted.instance, LV2_WORKER__interface));
  ASSERT_NE(iface, nullptr);
  LV2_Handle handle = lilv_instance_get_handle(hosted.instance);

  EXPECT_EQ(hosted.Mode(), 0.0f) << "preset 0 drives the gain";
  EXPECT_EQ(worker.scheduled, 0) << "activate applies the preset itself";
  hosted.controls[kLv2PortPreset] = 1;
  EXPECT_EQ(hosted.Mode(), 0.0f) << "applied only by the worker";
  EXPECT_EQ(hosted.Mode(), 0.0f);
  EXPECT_EQ(worker.scheduled, 1) << "one request per change";
  worker.RunWork(iface, handle);
  EXPECT_EQ(hosted.Mode(), 1.0f) << "preset 1 drives the cutoff";

  hosted.controls[kLv2PortEnabled] = 0;
  hosted.Mode();
  EXPECT_EQ(worker.scheduled, 2);
  EXPECT_NE(hosted.out[0], hosted.in) << "bypass waits for the worker";
  worker.RunWork(iface, handle);
  hosted.Mode();
  EXPECT_EQ(hosted.out[0], hosted.in) << "bypassed";
}

// Without a worker, one thread per plug-in library serves every instance,
// and it sleeps while nothing changes.
TEST(Lv2Edition, WithoutAWorkerOneSleepingThreadServesEveryInstance) {
  const std::string uri = std::string(kLv2UriBase) + "AUQelvoBS7";
  std::vector<std::unique_ptr<Hosted>> hosted;
  hosted.push_back(std::make_unique<Hosted>(uri, nullptr));
  ASSERT_NE(hosted.back()->instance, nullptr);
  const size_t threads = ThreadCount();
  for (int i = 0; i < 7; ++i) {
    hosted.push_back(std::make_unique<Hosted>(i % 2 ? uri : uri + kLv2MonoSuffix, nullptr));
    ASSERT_NE(hosted.back()->instance, nullptr);
  }
  EXPECT_EQ(ThreadCount(), threads);
  const std::string status = FallbackThreadStatus();
  ASSERT_NE(status, "") << "no thread named " << kLv2FallbackThreadName;

  for (auto& h : hosted) h->Mode();
  const long before = WakeUpsOnceAsleep(status);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(WakeUpsOnceAsleep(status), before) << "the thread woke while nothing changed";

  Hosted& changed = *hosted[3];
  changed.controls[kLv2PortPreset] = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (changed.Mode() != 1.0f && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(changed.Mode(), 1.0f);

  hosted.clear();
  EXPECT_EQ(FallbackThreadStatus(), "") << "the thread ends with the last instance";
}

}  // namespace
