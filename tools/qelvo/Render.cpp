#include "tools/qelvo/Render.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>

#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LevelSymbols.h"
#include "tools/qelvo/NumberText.h"
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

// Where a render's words go: the summary to stdout (stderr when the audio
// takes stdout), everything else to stderr; --quiet keeps only errors.
class Reporter {
 public:
  Reporter(bool quiet, bool verbose, FILE* summary) : quiet_(quiet), verbose_(verbose), summary_(summary) {}
  void Summary(const std::string& text) const {
    if (!quiet_) std::fprintf(summary_, "%s\n", text.c_str());
  }
  void Info(const std::string& text) const {
    if (quiet_) return;
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
  void Verbose(const std::string& text) const {
    if (verbose_) Info("qelvo render: " + text);
  }
  void Warning(const std::string& text) const {
    if (!quiet_) std::fprintf(stderr, "qelvo: warning: %s\n", text.c_str());
  }

 private:
  bool quiet_, verbose_;
  FILE* summary_;
};

// What became of the levels, for the summary: "applied" only when some
// reached the measure the unit follows.
std::string LevelsText(const RenderStats& stats, bool live, bool fromFile, const std::string& followed) {
  const std::string count = std::to_string(stats.levelsDelivered) + " level" + (stats.levelsDelivered == 1 ? "" : "s");
  std::string text;
  if (live)
    text = count + " heard";
  else if (!fromFile)
    text = "no levels";
  else if (followed.empty())
    text = count + " delivered";
  else if (stats.levelsFollowed == 0)
    text = count + " read, none for " + followed;
  else
    text = count + " applied (" + std::to_string(stats.levelsFollowed) + " for " + followed + ")";
  if (stats.levelsAfterEnd > 0) text += ", " + std::to_string(stats.levelsAfterEnd) + " after the end ignored";
  return text;
}

}  // namespace

std::optional<PresetMeasure> FollowedMeasure(const PluginInstance& unit, const std::optional<PresetDescription>& preset) {
  if (!preset) return std::nullopt;
  const std::optional<int> variant = unit.VariantIndex();
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
    if (Interrupted()) {
      stats.interrupted = true;
      break;
    }
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
      const double wait = std::chrono::duration<double>(due - std::chrono::steady_clock::now()).count();
      // A signal during the wait ends the render before this slice.
      if (wait > 0 && !SleepUnlessInterrupted(wait)) continue;
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
  if (options.quiet && options.verbose) throw UsageError("--quiet and --verbose exclude each other");
  // Audio on standard output leaves only standard error for words.
  const bool toStandardOutput = options.output == "-";
  Reporter say(options.quiet, options.verbose, toStandardOutput ? stderr : stdout);

  std::vector<LevelEvent> levels;
  if (!options.levelsFile.empty()) levels = ReadLevelCsv(options.levelsFile);
  const std::string levelsName = options.levelsFile == "-" ? kStandardInputName : options.levelsFile;
  std::optional<LevelCounter> heard;
  if (options.live)
    heard.emplace(RequireBus("render --live"));
  else
    DetachFromBus();

  AudioReader reader(options.input);
  const AudioFormatInfo& info = reader.Info();
  const OutputFormatChoice output =
      ChooseOutputFormat(options.format, options.output, info.sfFormat, info.sampleRate, info.channels);

  PluginInstance unit(options.unit.plugin);
  unit.SetFormat(info.sampleRate, static_cast<UInt32>(info.channels));
  unit.SetMaximumFramesPerSlice(options.block);
  const std::optional<PresetDescription> preset = ApplyUnitSettings(unit, options.unit);
  if (!preset && options.unit.stateFile.empty()) {
    std::string list;
    for (const PresetDescription& p : unit.FactoryPresets()) list += "\n  " + std::to_string(p.number) + "  " + p.name;
    throw UsageError("choose a preset with --preset; " + unit.Name() + " has:" + list);
  }
  unit.ReadInputWhereItIs();
  unit.Initialize();
  const std::optional<PresetMeasure> measure = FollowedMeasure(unit, preset);
  std::string what = unit.Name();
  if (preset) what += " preset " + std::to_string(preset->number) + " \"" + preset->name + "\"";

  say.Verbose("input " + options.input + ": " + DescribeFormat(info.sfFormat) + ", " + std::to_string(info.channels) +
              " ch, " + ShortestText(info.sampleRate) + " Hz, " + Seconds(static_cast<double>(info.frames) / info.sampleRate));
  say.Verbose("output " + (toStandardOutput ? std::string("to standard output") : options.output) + ": " +
              DescribeFormat(output.sfFormat) + ", from " + output.reason);
  if (!options.format.empty() && ExtensionNamesAnotherContainer(options.output, output.sfFormat))
    say.Warning("writing " + DescribeFormat(output.sfFormat) + " into " + options.output +
                ", whose extension names another container");
  if (measure) {
    say.Verbose(what + " follows " + measure->symbol + " (level x " + ShortestText(measure->scale) + ", " +
                (measure->filterMode ? "filter" : "gain") + " mode), " + std::to_string(options.block) +
                " frames per slice");
    if (!options.levelsFile.empty()) {
      const std::optional<int> variant = unit.VariantIndex();
      LevelSymbolCheck check{levelsName, unit.Name(), variant ? FamilyMeasures(*variant) : std::vector<std::string>{},
                             AllMeasureNames(), measure->symbol,
                             "preset " + std::to_string(preset->number) + " \"" + preset->name + "\""};
      for (const std::string& warning : LevelSymbolWarnings(levels, check)) say.Warning(warning);
    }
  }

  // From here on a first signal finishes the output instead of ending the program.
  CatchInterrupts();
  AudioWriter writer(options.output, info.sampleRate, info.channels, output.sfFormat);
  FileSource source(reader, info.channels);
  FileSink sink(writer, info.channels);
  ProgressBar progress("rendering", info.frames, !options.quiet && ProgressBar::TerminalAttached());
  if (options.live) {
    RequireBus("render --live");  // the unit's observation is in place
    say.Info("qelvo render: following levels on the session bus, in real time");
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
  if (measure) what += " (" + measure->symbol + ", " + (measure->filterMode ? "filter" : "gain") + " mode)";
  const std::string levelText =
      LevelsText(stats, options.live, !options.levelsFile.empty(), measure ? measure->symbol : "");
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "%s of audio (%d ch, %.0f Hz) in %s, %s real time", Seconds(audioSeconds).c_str(),
                info.channels, info.sampleRate, Seconds(stats.wallSeconds).c_str(), speed);
  say.Summary(what + ": " + numbers + ", " + levelText + " -> " +
              (toStandardOutput ? std::string("standard output") : options.output));
  if (writer.ClippedSamples() > 0)
    say.Warning(std::to_string(writer.ClippedSamples()) + " sample" + (writer.ClippedSamples() == 1 ? "" : "s") +
                " clipped (beyond full scale, which " + DescribeFormat(output.sfFormat) +
                " cannot hold); lower the gain or write a float format such as --format wav-float");
  if (stats.interrupted) {
    // Said even when quiet: it explains the exit status.
    std::fprintf(stderr, "qelvo: render interrupted at t = %.2f s; %s holds the audio up to there\n", audioSeconds,
                 toStandardOutput ? "standard output" : options.output.c_str());
    return InterruptExitStatus();
  }
  return kExitOk;
}
