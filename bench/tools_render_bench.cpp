// How fast `qelvo render` turns a WAV file into another: ten minutes of
// stereo 44.1 kHz float audio through AUQelvoBS7 in filter mode, with a level
// every 100 ms, on one core. Also the same render from memory to memory, to
// show what the file work costs. The counter x_realtime is audio seconds per
// second of the rendering thread's CPU time, so a busy machine does not
// distort it.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/Render.h"

namespace {

constexpr double kRate = 44100;
constexpr double kSeconds = 600;
constexpr int kChannels = 2;

struct Fixture {
  std::string dir;
  std::string input, levels, output;
  std::vector<LevelEvent> events;
  Fixture() {
    char pattern[] = "/tmp/qelvo-bench-XXXXXX";
    dir = mkdtemp(pattern);
    input = dir + "/in.wav";
    levels = dir + "/levels.csv";
    output = dir + "/out.wav";
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRate);
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(input.c_str(), SFM_WRITE, &info);
    std::vector<float> block(44100 * kChannels);
    uint32_t s = 1;
    for (int second = 0; second < kSeconds; ++second) {
      for (float& x : block) {
        s = s * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(s) / 4294967296.0);
      }
      sf_writef_float(f, block.data(), 44100);
    }
    sf_close(f);
    FILE* csv = std::fopen(levels.c_str(), "w");
    std::fprintf(csv, "time_s,symbol,level\n");
    for (int i = 0; i < kSeconds * 10; ++i) {
      const double t = i / 10.0;
      const double level = 30 + 24 * std::sin(t / 3);
      std::fprintf(csv, "%.1f,BS7V0,%.3f\n", t, level);
      events.push_back({t, "BS7V0", level, i + 2});
    }
    std::fclose(csv);
  }
  ~Fixture() {
    unlink(input.c_str());
    unlink(levels.c_str());
    unlink(output.c_str());
    rmdir(dir.c_str());
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

void BM_RenderWavToWav(benchmark::State& state) {
  Fixture& f = Files();
  RenderCommandOptions options;
  options.unit.plugin = "AUQelvoBS7";
  options.unit.preset = "1";  // LCH Count-Filter
  options.input = f.input;
  options.output = f.output;
  options.levelsFile = f.levels;
  options.block = static_cast<UInt32>(state.range(0));
  // The command prints a summary line per render; keep it out of the report.
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, STDOUT_FILENO);
  for (auto _ : state) {
    RunRenderCommand(options);
    std::fflush(stdout);
  }
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(devnull);
  state.counters["x_realtime"] = benchmark::Counter(kSeconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderWavToWav)->Arg(512)->Arg(4096)->Iterations(3)->Unit(benchmark::kMillisecond);

class Sawtooth : public RenderSource {
 public:
  explicit Sawtooth(long long frames) : left_(frames) {}
  size_t Read(float* const* channels, size_t frames) override {
    const size_t n = static_cast<size_t>(std::min<long long>(left_, static_cast<long long>(frames)));
    for (int c = 0; c < kChannels; ++c)
      for (size_t i = 0; i < n; ++i) channels[c][i] = 0.25f * static_cast<float>((i % 97) - 48) / 48.0f;
    left_ -= static_cast<long long>(n);
    return n;
  }

 private:
  long long left_;
};

class Discard : public RenderSink {
 public:
  void Write(const float* const*, size_t) override {}
};

void BM_RenderMemoryToMemory(benchmark::State& state) {
  Fixture& f = Files();
  DetachFromBus();
  PluginInstance unit("AUQelvoBS7");
  unit.SetFormat(kRate, kChannels);
  unit.SetMaximumFramesPerSlice(512);
  unit.SelectFactoryPreset({1, "LCH Count-Filter"});
  unit.Initialize();
  RenderLoopOptions loop;
  loop.block = 512;
  loop.levels = &f.events;
  for (auto _ : state) {
    Sawtooth source(static_cast<long long>(kRate * kSeconds));
    Discard sink;
    RunRenderLoop(unit, kRate, kChannels, source, sink, loop, "BS7V0");
  }
  state.counters["x_realtime"] = benchmark::Counter(kSeconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderMemoryToMemory)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
