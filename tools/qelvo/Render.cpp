#include "tools/qelvo/Render.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <thread>

#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/ToolError.h"

namespace {

// Files are read and written in large chunks whatever the slice length, so a
// short slice costs no extra system calls.
constexpr size_t kFileChunkFrames = 32768;

class FileSource : public RenderSource {
 public:
  FileSource(AudioReader& reader, int channels)
      : reader_(reader), buffer_(static_cast<size_t>(channels), std::vector<float>(kFileChunkFrames)) {
    for (auto& b : buffer_) pointers_.push_back(b.data());
  }
  size_t Read(float* const* channels, size_t frames) override {
    size_t done = 0;
    while (done < frames) {
      if (position_ == filled_) {
        if (ended_) break;
        filled_ = reader_.ReadPlanar(pointers_.data(), kFileChunkFrames);
        position_ = 0;
        ended_ = filled_ < kFileChunkFrames;
        if (filled_ == 0) break;
      }
      const size_t n = std::min(frames - done, filled_ - position_);
      for (size_t c = 0; c < buffer_.size(); ++c)
        std::memcpy(channels[c] + done, buffer_[c].data() + position_, n * sizeof(float));
      position_ += n;
      done += n;
    }
    return done;
  }

 private:
  AudioReader& reader_;
  std::vector<std::vector<float>> buffer_;
  std::vector<float*> pointers_;
  size_t filled_ = 0, position_ = 0;
  bool ended_ = false;
};

class FileSink : public RenderSink {
 public:
  FileSink(AudioWriter& writer, int channels)
      : writer_(writer), buffer_(static_cast<size_t>(channels), std::vector<float>(kFileChunkFrames)) {
    for (auto& b : buffer_) pointers_.push_back(b.data());
  }
  void Write(const float* const* channels, size_t frames) override {
    size_t done = 0;
    while (done < frames) {
      const size_t n = std::min(frames - done, kFileChunkFrames - filled_);
      for (size_t c = 0; c < buffer_.size(); ++c)
        std::memcpy(buffer_[c].data() + filled_, channels[c] + done, n * sizeof(float));
      filled_ += n;
      done += n;
      if (filled_ == kFileChunkFrames) Flush();
    }
  }
  void Flush() {
    if (filled_ > 0) writer_.WritePlanar(pointers_.data(), filled_);
    filled_ = 0;
  }

 private:
  AudioWriter& writer_;
  std::vector<std::vector<float>> buffer_;
  std::vector<const float*> pointers_;
  size_t filled_ = 0;
};

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", s);
  return buf;
}

}  // namespace

std::optional<PresetMeasure> FollowedMeasure(const PluginInstance& unit, const std::optional<PresetDescription>& preset) {
  if (!preset) return std::nullopt;
  const std::optional<int> variant = VariantFromResponsePropertyID(unit.FrequencyResponsePropertyID());
  if (!variant) return std::nullopt;
  return MeasureForPreset(*variant, preset->number);
}

RenderStats RunRenderLoop(PluginInstance& unit, double sampleRate, int channels, RenderSource& source,
                          RenderSink& sink, const RenderLoopOptions& options, const std::string& followedSymbol) {
  const size_t block = options.block;
  std::vector<std::vector<float>> in(static_cast<size_t>(channels), std::vector<float>(block));
  std::vector<std::vector<float>> out(static_cast<size_t>(channels), std::vector<float>(block));
  std::vector<float*> inPtr, outPtr;
  for (int c = 0; c < channels; ++c) {
    inPtr.push_back(in[static_cast<size_t>(c)].data());
    outPtr.push_back(out[static_cast<size_t>(c)].data());
  }

  std::optional<InProcessLevelDelivery> delivery;
  if (options.levels != nullptr && !options.levels->empty()) delivery.emplace();
  size_t nextLevel = 0;

  RenderStats stats;
  const auto start = std::chrono::steady_clock::now();
  long long position = 0;
  for (;;) {
    const size_t got = source.Read(inPtr.data(), block);
    if (got == 0) break;
    // Every level whose frame falls before the end of this slice reaches the
    // unit first, so it acts from this slice on.
    const long long sliceEnd = position + static_cast<long long>(got);
    while (delivery && nextLevel < options.levels->size() &&
           LevelFrame((*options.levels)[nextLevel].time, sampleRate) < sliceEnd) {
      const LevelEvent& e = (*options.levels)[nextLevel++];
      delivery->Deliver(e.symbol, e.level);
      ++stats.levelsDelivered;
      if (e.symbol == followedSymbol) ++stats.levelsFollowed;
    }
    if (options.paceToRealTime) {
      const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(position) / sampleRate));
      std::this_thread::sleep_until(due);
    }
    unit.Render(inPtr.data(), outPtr.data(), static_cast<UInt32>(got), static_cast<double>(position));
    sink.Write(outPtr.data(), got);
    position = sliceEnd;
    if (options.progress != nullptr) options.progress->Update(position);
    if (got < block) break;
  }
  if (options.levels != nullptr) stats.levelsAfterEnd = options.levels->size() - nextLevel;
  stats.frames = position;
  stats.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (options.progress != nullptr) options.progress->Finish();
  return stats;
}

int RunRenderCommand(const RenderCommandOptions& options) {
  if (options.block == 0 || options.block > kMaxBlockFrames)
    throw UsageError("--block must be between 1 and " + std::to_string(kMaxBlockFrames) + " frames");
  if (options.live && !options.levelsFile.empty()) throw UsageError("--levels and --live exclude each other");

  std::vector<LevelEvent> levels;
  if (!options.levelsFile.empty()) levels = ReadLevelCsv(options.levelsFile);
  std::optional<LevelCounter> heard;
  if (options.live)
    heard.emplace(RequireBus("render --live"));
  else
    DetachFromBus();

  AudioReader reader(options.input);
  const AudioFormatInfo& info = reader.Info();
  const int outputFormat = OutputFormatFromName(options.format, info.sfFormat);

  PluginInstance unit(options.unit.plugin);
  unit.SetFormat(info.sampleRate, static_cast<UInt32>(info.channels));
  unit.SetMaximumFramesPerSlice(options.block);
  const std::optional<PresetDescription> preset = ApplyUnitSettings(unit, options.unit);
  if (!preset && options.unit.stateFile.empty()) {
    std::string list;
    for (const PresetDescription& p : unit.FactoryPresets()) list += "\n  " + std::to_string(p.number) + "  " + p.name;
    throw UsageError("choose a preset with --preset; " + unit.Name() + " has:" + list);
  }
  unit.Initialize();
  const std::optional<PresetMeasure> measure = FollowedMeasure(unit, preset);

  AudioWriter writer(options.output, info.sampleRate, info.channels, outputFormat);
  FileSource source(reader, info.channels);
  FileSink sink(writer, info.channels);
  ProgressBar progress("rendering", info.frames, ProgressBar::TerminalAttached());
  if (options.live) {
    RequireBus("render --live");  // the unit's observation is in place
    std::fprintf(stderr, "qelvo render: following levels on the session bus, in real time\n");
    std::fflush(stderr);
  }
  RenderLoopOptions loop;
  loop.block = options.block;
  loop.levels = options.live ? nullptr : &levels;
  loop.paceToRealTime = options.live;
  loop.progress = &progress;
  RenderStats stats = RunRenderLoop(unit, info.sampleRate, info.channels, source,
                                    sink, loop, measure ? measure->symbol : "");
  sink.Flush();
  writer.Commit();
  if (heard) stats.levelsDelivered = heard->Count();

  const double audioSeconds = static_cast<double>(stats.frames) / info.sampleRate;
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.0fx", stats.wallSeconds > 0 ? audioSeconds / stats.wallSeconds : 0.0);
  std::string what = unit.Name();
  if (preset) what += " preset " + std::to_string(preset->number) + " \"" + preset->name + "\"";
  if (measure) what += " (" + measure->symbol + ", " + (measure->filterMode ? "filter" : "gain") + " mode)";
  std::printf("%s: %s of audio (%d ch, %.0f Hz) in %s, %s real time, %llu level%s %s", what.c_str(),
              Seconds(audioSeconds).c_str(), info.channels, info.sampleRate, Seconds(stats.wallSeconds).c_str(), speed,
              static_cast<unsigned long long>(stats.levelsDelivered), stats.levelsDelivered == 1 ? "" : "s",
              options.live ? "heard" : "applied");
  if (measure && !options.live) std::printf(" (%llu for %s)", static_cast<unsigned long long>(stats.levelsFollowed), measure->symbol.c_str());
  if (stats.levelsAfterEnd > 0) std::printf(", %llu after the end ignored", static_cast<unsigned long long>(stats.levelsAfterEnd));
  std::printf(" -> %s\n", options.output.c_str());
  return kExitOk;
}
