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
#include "tools/qelvo/DemoRender.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/Synth.h"
#include "tools/qelvo/ToolError.h"

namespace {

constexpr const char* kDemoPlugin = "AUQelvoBS7";
constexpr double kDemoRate = 44100;
constexpr double kDemoSeconds = 20;
constexpr int kDemoChannels = 2;
constexpr UInt32 kDemoBlock = 512;

struct DemoMode {
  const char* stem;
  int preset;
};
constexpr DemoMode kRenders[] = {{"filter-mode", 1}, {"gain-mode", 0}};

// Writes every slice into the render's file.
class FileSink : public RenderSink {
 public:
  explicit FileSink(AudioWriter& writer) : writer_(writer) {}
  void Write(const float* const* channels, size_t frames) override { writer_.WritePlanar(channels, frames); }

 private:
  AudioWriter& writer_;
};

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

  for (const DemoMode& r : kRenders) {
    const std::string wav = dir + r.stem + ".wav";
    AudioWriter writer(wav, kDemoRate, kDemoChannels, FloatWavFormat());
    FileSink sink(writer);
    const PictureRender render = RenderForPicture({kDemoPlugin, r.preset, kDemoRate, kDemoBlock}, input, levels, sink);
    writer.Commit();
    const std::string png = dir + r.stem + ".png";
    DrawRenderPicture(render.picture, png);
    written.push_back(wav);
    written.push_back(png);

    std::printf("  %-12s preset %d \"%s\": %llu levels applied (%llu for %s), rendered in %.3f s\n", r.stem,
                render.preset.number, render.preset.name.c_str(),
                static_cast<unsigned long long>(render.stats.levelsDelivered),
                static_cast<unsigned long long>(render.stats.levelsFollowed), render.measure.symbol.c_str(),
                render.stats.wallSeconds);
  }
  std::printf("wrote:\n");
  for (const std::string& path : written) std::printf("  %s\n", path.c_str());
  return kExitOk;
}
