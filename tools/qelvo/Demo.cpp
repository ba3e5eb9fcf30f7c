// qelvo demo: the whole chain on built-in material, no arguments needed.
// Synthesises an input, renders it through AUQelvoBS7 with the shipped
// band-7 session once in filter mode and once in gain mode, and draws what
// happened.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DemoLevels.h"
#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/UnitResponse.h"
#include "tools/qelvo/Pictures.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/Synth.h"
#include "tools/qelvo/ToolError.h"

namespace {

constexpr const char* kDemoPlugin = "AUQelvoBS7";
constexpr double kDemoRate = 44100;
constexpr double kDemoSeconds = 20;
constexpr int kDemoChannels = 2;
constexpr UInt32 kDemoBlock = 512;

struct DemoRender {
  const char* stem;
  int preset;
};
constexpr DemoRender kRenders[] = {{"filter-mode", 1}, {"gain-mode", 0}};

class MemorySource : public RenderSource {
 public:
  explicit MemorySource(const std::vector<std::vector<float>>& channels) : channels_(channels) {}
  size_t Read(float* const* out, size_t frames) override {
    const size_t n = std::min(frames, channels_[0].size() - position_);
    for (size_t c = 0; c < channels_.size(); ++c)
      std::memcpy(out[c], channels_[c].data() + position_, n * sizeof(float));
    position_ += n;
    return n;
  }

 private:
  const std::vector<std::vector<float>>& channels_;
  size_t position_ = 0;
};

// Writes the file and keeps the left channel for the spectrogram.
class RecordingSink : public RenderSink {
 public:
  explicit RecordingSink(AudioWriter& writer) : writer_(writer) {}
  void Write(const float* const* channels, size_t frames) override {
    writer_.WritePlanar(channels, frames);
    left_.insert(left_.end(), channels[0], channels[0] + frames);
  }
  const std::vector<float>& Left() const { return left_; }

 private:
  AudioWriter& writer_;
  std::vector<float> left_;
};

// The factors the unit derives from a scaled level, for the picture.
double GainFactor(double scaled) {
  float g = static_cast<float>(scaled) / 10.0f;
  return g > 2.0f ? 2.0 : g;
}
double CutoffFactor(double scaled) {
  double c = static_cast<double>(static_cast<float>(scaled)) / 6.0;
  return c > 10.0 ? 10.0 : c;
}

void MakeDirectory(const std::string& dir) {
  std::string path;
  size_t at = 0;
  while (at != std::string::npos) {
    at = dir.find('/', at + 1);
    path = dir.substr(0, at);
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      throw ToolError("cannot make the directory " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw ToolError(dir + " is not a directory");
}

void WriteInput(const std::string& path, const std::vector<std::vector<float>>& input) {
  AudioWriter writer(path, kDemoRate, kDemoChannels, FloatWavFormat());
  std::vector<const float*> ptr;
  for (const auto& c : input) ptr.push_back(c.data());
  writer.WritePlanar(ptr.data(), input[0].size());
  writer.Commit();
}

}  // namespace

int RunDemoCommand(const DemoOptions& options) {
  DetachFromBus();
  if (options.outDir.empty()) throw UsageError("--out wants a directory");
  const std::vector<LevelEvent> levels = ParseLevelCsv(kDemoLevelsText, kDemoLevelsName);
  FindInstalledPlugin(kDemoPlugin);  // a clear message before any work when it is missing
  MakeDirectory(options.outDir);
  const std::string dir = options.outDir.back() == '/' ? options.outDir : options.outDir + "/";

  std::printf("qelvo demo: %g s of pink noise and an A minor chord, %d channels at %g Hz,\n", kDemoSeconds,
              kDemoChannels, kDemoRate);
  std::printf("            levels from %s (%zu notifications), plug-in %s\n", kDemoLevelsName, levels.size(), kDemoPlugin);
  const std::vector<std::vector<float>> input = SynthesizeDemoInput(kDemoRate, kDemoSeconds, kDemoChannels);
  WriteInput(dir + "input.wav", input);
  std::vector<std::string> written{dir + "input.wav"};

  for (const DemoRender& r : kRenders) {
    PluginInstance unit(kDemoPlugin);
    unit.SetFormat(kDemoRate, kDemoChannels);
    unit.SetMaximumFramesPerSlice(kDemoBlock);
    const PresetDescription preset = ResolvePreset(unit.FactoryPresets(), std::to_string(r.preset), unit.Name());
    unit.SelectFactoryPreset(preset);
    unit.Initialize();
    const std::optional<PresetMeasure> measure = FollowedMeasure(unit, preset);
    if (!measure) throw ToolError(unit.Name() + " does not say which measure preset " + preset.name + " follows");

    const std::string wav = dir + r.stem + ".wav";
    AudioWriter writer(wav, kDemoRate, kDemoChannels, FloatWavFormat());
    MemorySource source(input);
    RecordingSink sink(writer);
    RenderLoopOptions loop;
    loop.block = kDemoBlock;
    loop.levels = &levels;
    const RenderStats stats = RunRenderLoop(unit, kDemoRate, kDemoChannels, source, sink, loop, measure->symbol);
    writer.Commit();

    RenderPicture picture;
    picture.title = unit.Name() + ", preset " + std::to_string(preset.number) + " \"" + preset.name + "\": " +
                    measure->symbol + " drives the " + (measure->filterMode ? "cutoff" : "gain");
    picture.duration = kDemoSeconds;
    picture.levelLabel = "level of " + measure->symbol + " as posted by the analyser";
    char scale[16];
    std::snprintf(scale, sizeof scale, "%g", measure->scale);
    picture.factorLabel = measure->filterMode
                              ? std::string("cutoff factor (cutoff = 1000 Hz x (factor + 0.1)), from level x ") + scale
                              : std::string("gain factor (output = input x gain x factor), from level x ") + scale;
    // Until the first level the unit runs with the factors of a fresh instance, 1.0.
    picture.factor.times.push_back(0);
    picture.factor.values.push_back(1.0);
    for (const LevelEvent& e : levels) {
      if (e.symbol != measure->symbol) continue;
      const double scaled = e.level * measure->scale;
      picture.level.times.push_back(e.time);
      picture.level.values.push_back(e.level);
      picture.factor.times.push_back(e.time);
      picture.factor.values.push_back(measure->filterMode ? CutoffFactor(scaled) : GainFactor(scaled));
    }
    picture.spectrogram = ComputeSpectrogram(sink.Left(), kDemoRate, 2048, 512);
    picture.response = UnitResponseCurve(unit, kDemoRate);
    if (!measure->filterMode) picture.response.label += " (the filter the unit reports; gain mode bypasses it)";
    const std::string png = dir + r.stem + ".png";
    DrawRenderPicture(picture, png);
    written.push_back(wav);
    written.push_back(png);

    std::printf("  %-12s preset %d \"%s\": %llu levels applied (%llu for %s), rendered in %.3f s\n", r.stem,
                preset.number, preset.name.c_str(), static_cast<unsigned long long>(stats.levelsDelivered),
                static_cast<unsigned long long>(stats.levelsFollowed), measure->symbol.c_str(), stats.wallSeconds);
  }
  std::printf("wrote:\n");
  for (const std::string& path : written) std::printf("  %s\n", path.c_str());
  return kExitOk;
}
