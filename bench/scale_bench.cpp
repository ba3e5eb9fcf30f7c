// How the cost of rendering grows: with the channel count, with the block
// length, and with the number of instances in one process while levels
// arrive. AUQelvoBS7 is opened through the component loader and rendered the
// way a host renders it (its input read where it is, its output written
// straight into the host's buffers). The figure to read is ns_per_ch_sample:
// CPU time of the rendering thread per sample of one channel.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "effect/ModulationReport.h"
#include "platform/AudioUnitHost.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/PluginHost.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kFilterPreset = 1;  // "LCH Count-Filter", follows BS7V0
constexpr int kGainPreset = 0;    // "LCH Count-Gain"
// Frames rendered per iteration, whatever the block: one second of audio.
constexpr size_t kFramesPerIteration = 48000;

struct Channels {
  std::vector<std::vector<float>> samples;
  std::vector<const float*> in;
  std::vector<float*> out;
  Channels(size_t channels, size_t frames) : samples(channels * 2, std::vector<float>(frames)) {
    std::mt19937 random(static_cast<uint32_t>(channels));
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (size_t c = 0; c < channels; ++c) {
      for (float& x : samples[c]) x = noise(random);
      in.push_back(samples[c].data());
      out.push_back(samples[channels + c].data());
    }
  }
};

std::unique_ptr<PluginInstance> OpenUnit(size_t channels, UInt32 block, int preset) {
  auto unit = std::make_unique<PluginInstance>("AUQelvoBS7");
  unit->SetFormat(kRate, static_cast<UInt32>(channels));
  unit->SetMaximumFramesPerSlice(block);
  for (const PresetDescription& p : unit->FactoryPresets())
    if (p.number == preset) unit->SelectFactoryPreset(p);
  unit->ReadInputWhereItIs();
  unit->Initialize();
  return unit;
}

void PerChannelSample(benchmark::State& state, size_t channelSamplesPerIteration) {
  state.counters["ns_per_ch_sample"] =
      benchmark::Counter(static_cast<double>(channelSamplesPerIteration),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Renders `units` over the same noise, one block after the other.
void RenderLoop(benchmark::State& state, std::vector<std::unique_ptr<PluginInstance>>& units, size_t channels,
                UInt32 block) {
  std::vector<Channels> buffers;
  for (size_t u = 0; u < units.size(); ++u) buffers.emplace_back(channels, block);
  double time = 0;
  for (auto _ : state) {
    for (size_t done = 0; done < kFramesPerIteration; done += block) {
      for (size_t u = 0; u < units.size(); ++u)
        units[u]->Render(buffers[u].in.data(), buffers[u].out.data(), block, time);
      time += block;
    }
    benchmark::ClobberMemory();
  }
  const size_t blocks = (kFramesPerIteration + block - 1) / block;
  PerChannelSample(state, blocks * block * channels * units.size());
}

// Arguments: channels, filter mode (1) or gain mode (0). Blocks of 256.
void BM_Channels(benchmark::State& state) {
  DetachFromBus();
  const auto channels = static_cast<size_t>(state.range(0));
  std::vector<std::unique_ptr<PluginInstance>> units;
  units.push_back(OpenUnit(channels, 256, state.range(1) ? kFilterPreset : kGainPreset));
  RenderLoop(state, units, channels, 256);
}
BENCHMARK(BM_Channels)
    ->ArgNames({"channels", "filter"})
    ->ArgsProduct({{1, 2, 6, 8}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// Arguments: block length, filter mode (1) or gain mode (0). Stereo.
void BM_Block(benchmark::State& state) {
  DetachFromBus();
  const auto block = static_cast<UInt32>(state.range(0));
  std::vector<std::unique_ptr<PluginInstance>> units;
  units.push_back(OpenUnit(2, block, state.range(1) ? kFilterPreset : kGainPreset));
  RenderLoop(state, units, 2, block);
}
BENCHMARK(BM_Block)
    ->ArgNames({"block", "filter"})
    ->ArgsProduct({{1, 4, 16, 64, 256, 1024, 4096, 8192}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Argument: instances, stereo, filter mode, blocks of 256, all rendered by
// one thread while another posts a level of the followed measure 100 times a
// second; every instance's listener hears each one. delivery_cpu_per_level
// is the process's CPU time beyond the rendering thread's, per level posted.
void BM_Instances(benchmark::State& state) {
  DetachFromBus();
  const auto count = static_cast<size_t>(state.range(0));
  std::vector<std::unique_ptr<PluginInstance>> units;
  for (size_t i = 0; i < count; ++i) units.push_back(OpenUnit(2, 256, kFilterPreset));

  std::atomic<bool> stop{false};
  std::atomic<long> posted{0};
  std::thread poster([&] {
    CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
    auto next = std::chrono::steady_clock::now();
    for (long i = 0; !stop.load(); ++i) {
      CFRef<CFDictionaryRef> info = MakeLevelUserInfo("BS7V0", 30.0 + 20.0 * std::sin(i * 0.05));
      CFNotificationCenterPostNotification(center, LevelNotificationName(), nullptr, info.get(), true);
      posted.fetch_add(1);
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
    }
  });
  const double cpuBefore = ProcessCpuSeconds();
  timespec threadBefore{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &threadBefore);
  RenderLoop(state, units, 2, 256);
  timespec threadAfter{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &threadAfter);
  const double renderCpu = static_cast<double>(threadAfter.tv_sec - threadBefore.tv_sec) +
                           static_cast<double>(threadAfter.tv_nsec - threadBefore.tv_nsec) * 1e-9;
  const double others = ProcessCpuSeconds() - cpuBefore - renderCpu;
  stop = true;
  poster.join();
  state.counters["levels_posted"] = static_cast<double>(posted.load());
  // The levels did reach the units: the last one's cutoff factor moved off 1.
  ModulationReport report{};
  UInt32 size = sizeof report;
  AudioUnitGetProperty(units.back()->Unit(), kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report, &size);
  state.counters["cutoff_factor"] = report.mCutoffFactor;
  state.counters["delivery_cpu_per_level_us"] = posted.load() > 0 ? others / static_cast<double>(posted.load()) * 1e6 : 0;
}
BENCHMARK(BM_Instances)->ArgName("instances")->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
