// Our low-pass against the distribution's peer low-pass plug-ins and a
// pass-through, side by side in one in-process LV2 host: 30 s of stereo
// 48 kHz noise in blocks of 256 frames. Peers that are not installed are
// skipped. The figure to read is ns_per_ch_sample.
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kFrames = 30 * 48000;

// ---- the host's features: a URID map and the block-length options ----------------

struct UridMap {
  std::map<std::string, LV2_URID> ids;
  std::vector<std::string> names;
  LV2_URID Map(const char* uri) {
    auto [it, added] = ids.emplace(uri, static_cast<LV2_URID>(names.size() + 1));
    if (added) names.emplace_back(uri);
    return it->second;
  }
};
LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri) { return static_cast<UridMap*>(handle)->Map(uri); }
const char* UnmapUri(LV2_URID_Unmap_Handle handle, LV2_URID id) {
  auto* map = static_cast<UridMap*>(handle);
  return id >= 1 && id <= map->names.size() ? map->names[id - 1].c_str() : nullptr;
}

struct Host {
  LilvWorld* world = lilv_world_new();
  UridMap uris;
  LV2_URID_Map map{&uris, MapUri};
  LV2_URID_Unmap unmap{&uris, UnmapUri};
  int32_t block = kBlock;
  float rate = static_cast<float>(kRate);
  std::vector<LV2_Options_Option> options;
  LV2_Feature mapFeature{LV2_URID__map, &map};
  LV2_Feature unmapFeature{LV2_URID__unmap, &unmap};
  LV2_Feature optionsFeature{LV2_OPTIONS__options, nullptr};
  LV2_Feature boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
  const LV2_Feature* features[5] = {&mapFeature, &unmapFeature, &optionsFeature, &boundedFeature, nullptr};

  Host() {
    lilv_world_load_all(world);
    // Our bundles straight from the build tree, whatever LV2_PATH says.
    for (const char* name : {"AUQelvoBS7"}) {
      const std::string dir = std::string("file://") + QELVO_LV2_BUILD_DIR + "/" + name + ".lv2/";
      LilvNode* bundle = lilv_new_uri(world, dir.c_str());
      lilv_world_load_bundle(world, bundle);
      lilv_node_free(bundle);
    }
    const LV2_URID intType = uris.Map(LV2_ATOM__Int), floatType = uris.Map(LV2_ATOM__Float);
    for (const char* key : {LV2_BUF_SIZE__minBlockLength, LV2_BUF_SIZE__maxBlockLength,
                            LV2_BUF_SIZE__nominalBlockLength})
      options.push_back({LV2_OPTIONS_INSTANCE, 0, uris.Map(key), sizeof block, intType, &block});
    options.push_back({LV2_OPTIONS_INSTANCE, 0, uris.Map("http://lv2plug.in/ns/lv2core#sampleRate"), sizeof rate,
                       floatType, &rate});
    options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
    optionsFeature.data = options.data();
  }
  ~Host() { lilv_world_free(world); }
};

Host& TheHost() {
  static Host host;
  return host;
}

// ---- one plug-in set up for the run: instances enough for two channels -------------

struct Peer {
  const char* label;
  const char* uri;
  std::vector<std::pair<const char*, float>> controls;  // by symbol; the rest at defaults
};

struct Running {
  std::vector<LilvInstance*> instances;
  std::vector<std::vector<float>> controls;           // per instance, per port
  std::vector<std::vector<float>> in, out;             // per channel, one block
  struct AudioIn {
    LilvInstance* instance;
    uint32_t port, channel;
  };
  std::vector<AudioIn> audioIns;                       // pointed into the noise block by block
  std::vector<std::vector<uint64_t>> atoms;            // per atom port, 8-byte aligned
  std::vector<std::pair<LV2_Atom*, uint32_t>> atomOuts;  // reset before each run
  std::string skip;

  ~Running() {
    for (LilvInstance* instance : instances) {
      lilv_instance_deactivate(instance);
      lilv_instance_free(instance);
    }
  }
};

void SetUp(const Peer& peer, Running& run) {
  Host& host = TheHost();
  LilvNode* uri = lilv_new_uri(host.world, peer.uri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host.world), uri);
  lilv_node_free(uri);
  if (plugin == nullptr) {
    run.skip = std::string(peer.uri) + " is not installed";
    return;
  }
  LilvNode* audio = lilv_new_uri(host.world, LV2_CORE__AudioPort);
  LilvNode* control = lilv_new_uri(host.world, LV2_CORE__ControlPort);
  LilvNode* atom = lilv_new_uri(host.world, LV2_ATOM__AtomPort);
  LilvNode* input = lilv_new_uri(host.world, LV2_CORE__InputPort);
  const uint32_t ports = lilv_plugin_get_num_ports(plugin);
  uint32_t audioIns = 0;
  for (uint32_t p = 0; p < ports; ++p) {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
    audioIns += lilv_port_is_a(plugin, port, audio) && lilv_port_is_a(plugin, port, input);
  }
  std::vector<float> mins(ports), maxs(ports), defaults(ports);
  lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());

  run.in.assign(kChannels, std::vector<float>(kBlock));
  run.out.assign(kChannels, std::vector<float>(kBlock));
  const uint32_t count = audioIns == 0 ? 0 : kChannels / std::min(audioIns, kChannels);
  for (uint32_t i = 0; i < count && run.skip.empty(); ++i) {
    LilvInstance* instance = lilv_plugin_instantiate(plugin, kRate, host.features);
    if (instance == nullptr) {
      run.skip = std::string(peer.uri) + " would not instantiate";
      break;
    }
    run.instances.push_back(instance);
    std::vector<float>& values = run.controls.emplace_back(ports);
    uint32_t audioIn = 0, audioOut = 0;
    for (uint32_t p = 0; p < ports; ++p) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
      const bool isInput = lilv_port_is_a(plugin, port, input);
      if (lilv_port_is_a(plugin, port, audio)) {
        // Mono plug-ins: instance i takes channel i.
        const uint32_t channel = std::min(kChannels - 1, i + (isInput ? audioIn++ : audioOut++));
        lilv_instance_connect_port(instance, p, isInput ? run.in[channel].data() : run.out[channel].data());
        if (isInput) run.audioIns.push_back({instance, p, channel});
      } else if (lilv_port_is_a(plugin, port, control)) {
        values[p] = std::isnan(defaults[p]) ? 0.0f : defaults[p];
        const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        for (const auto& [name, value] : peer.controls)
          if (std::strcmp(symbol, name) == 0) values[p] = value;
        lilv_instance_connect_port(instance, p, &values[p]);
      } else if (lilv_port_is_a(plugin, port, atom)) {
        std::vector<uint64_t>& buffer = run.atoms.emplace_back(1024);
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
        if (isInput) {
          sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
          sequence->atom.type = host.uris.Map(LV2_ATOM__Sequence);
        } else {
          run.atomOuts.emplace_back(&sequence->atom, static_cast<uint32_t>(buffer.size() * 8 - sizeof(LV2_Atom)));
        }
        lilv_instance_connect_port(instance, p, sequence);
      } else {
        lilv_instance_connect_port(instance, p, nullptr);
      }
    }
    lilv_instance_activate(instance);
  }
  if (count == 0) run.skip = std::string(peer.uri) + " has no audio input";
  lilv_node_free(audio);
  lilv_node_free(control);
  lilv_node_free(atom);
  lilv_node_free(input);
}

void BM_LowPass(benchmark::State& state, Peer peer) {
  Running run;
  SetUp(peer, run);
  if (!run.skip.empty()) {
    state.SkipWithError(run.skip.c_str());
    return;
  }
  std::vector<std::vector<float>> noise(kChannels, std::vector<float>(kFrames));
  std::mt19937 random(1);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  for (auto& channel : noise)
    for (float& v : channel) v = uniform(random);
  const LV2_URID chunk = TheHost().uris.Map(LV2_ATOM__Chunk);

  for (auto _ : state) {
    for (uint32_t at = 0; at + kBlock <= kFrames; at += kBlock) {
      // Like a host handing over its own buffers: no copy on our side.
      for (const Running::AudioIn& in : run.audioIns)
        lilv_instance_connect_port(in.instance, in.port, noise[in.channel].data() + at);
      for (auto [atomOut, capacity] : run.atomOuts) *atomOut = LV2_Atom{capacity, chunk};
      for (LilvInstance* instance : run.instances) lilv_instance_run(instance, kBlock);
    }
    benchmark::DoNotOptimize(run.out[0].data());
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_ch_sample"] = benchmark::Counter(
      static_cast<double>(kFrames) * kChannels,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

const float kSwhCutoff = static_cast<float>(1000.0 / kRate);  // these cutoffs are fractions of the rate

BENCHMARK_CAPTURE(BM_LowPass, qelvo_filter_mode, Peer{"qelvo", "https://qelvo.org/plugins/AUQelvoBS7",
                                                      {{"preset", 1.0f}, {"cutoff", 1000.0f}}})
    ->Unit(benchmark::kMillisecond);
// The gain path: preset 0 ("LCH Count-Gain") at unity, the fixed cost per
// call against a two-multiplication loop.
BENCHMARK_CAPTURE(BM_LowPass, qelvo_gain_mode, Peer{"qelvo", "https://qelvo.org/plugins/AUQelvoBS7",
                                                    {{"preset", 0.0f}, {"gain", 1.0f}}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LowPass, swh_lowpass_iir, Peer{"swh", "http://plugin.org.uk/swh-plugins/lowpass_iir",
                                                    {{"cutoff", kSwhCutoff}, {"stages", 1.0f}}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LowPass, swh_buttlow_iir, Peer{"swh", "http://plugin.org.uk/swh-plugins/buttlow_iir",
                                                    {{"cutoff", kSwhCutoff}, {"resonance", 0.707f}}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LowPass, calf_filter_lp12, Peer{"calf", "http://calf.sourceforge.net/plugins/Filter",
                                                     {{"mode", 0.0f}, {"freq", 1000.0f}, {"res", 0.707f}}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LowPass, lsp_para_eq_x16_one_lowpass,
                  Peer{"lsp", "http://lsp-plug.in/plugins/lv2/para_equalizer_x16_stereo",
                       {{"ft_0", 4.0f}, {"fm_0", 0.0f}, {"s_0", 0.0f}, {"f_0", 1000.0f}}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LowPass, eg_amp_passthrough, Peer{"eg-amp", "http://lv2plug.in/plugins/eg-amp", {{"gain", 0.0f}}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
