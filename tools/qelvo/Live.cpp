#include "tools/qelvo/Live.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "effect/ModulationReport.h"
#include "platform/AudioUnitHost.h"
#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/Interrupt.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LiveBridge.h"
#include "tools/qelvo/LiveGraph.h"
#include "tools/qelvo/LiveLevels.h"
#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/LiveRecorder.h"
#include "tools/qelvo/LiveStatus.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/Render.h"
#include "tools/qelvo/ToolError.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStatusPeriod = std::chrono::milliseconds(200);
// Linking is the session manager's job; say so when it does not happen.
constexpr auto kLinkPatience = std::chrono::seconds(5);
// Until the graph says, the unit is checked at a usual rate.
constexpr double kProvisionalRate = 48000;
// How long start-up waits for the session bus before saying levels will not come.
constexpr double kLiveBusWaitSeconds = 3;

std::optional<ModulationReport> ReadReport(AudioUnit unit) {
  return ReadUnitProperty<ModulationReport>(unit, kModulationReportPropertyID);
}

// The status line, redrawn in place on standard error.
class StatusLine {
 public:
  explicit StatusLine(bool enabled) : enabled_(enabled) {}
  ~StatusLine() { Clear(); }
  void Show(const std::string& text) {
    if (!enabled_) return;
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    drawn_ = false;
  }
  // A message on its own line, the status line drawn again after it.
  void Say(const std::string& text) {
    Clear();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

 private:
  bool enabled_;
  bool drawn_ = false;
};

void CheckOptions(const LiveOptions& o) {
  if (o.channels > kLiveMaxChannels)
    throw UsageError("--channels must be between 1 and " + std::to_string(kLiveMaxChannels));
  if (!(o.duration >= 0) || !std::isfinite(o.duration)) throw UsageError("--duration must not be negative");
  if (!(o.answerTimeout > 0) || !std::isfinite(o.answerTimeout)) throw UsageError("--answer-timeout must be positive");
  if (!o.capture && !o.captureTarget.empty()) throw UsageError("a capture target needs --capture");
}

}  // namespace

void AddLiveOptions(CLI::App* command, LiveOptions& options) {
  CLI::Option* capture =
      command->add_option("--capture", options.captureTarget,
                          "Process a source instead of being a sink: NODE, or the default source when none is named")
          ->expected(0, 1);
  command->add_option("--target", options.target, "Sink to play to (node name, serial or description); default: the default sink");
  command->add_option("--channels", options.channels, "Channels of the node, 1 to 8 (default 2, or the captured node's)");
  command->add_option("--osc", options.oscPort, "Also run the OSC bridge on this UDP port (see `qelvo bridge`)");
  command->add_option("--map", options.mapFile, "Address map for --osc (see docs/osc-bridge.md)");
  command->add_option("--calibration", options.calibrationFile,
                      "Start the --map's adaptive rules from a baseline saved by `qelvo bridge --calibrate`");
  command->add_option("--record-levels", options.recordLevels,
                      "Write every level received, with its session time, as CSV for `render --levels`");
  command->add_option("--record-input", options.recordInput,
                      "Write the audio the plug-in receives (float WAV; time 0 of --record-levels)");
  command->add_flag("--quiet", options.quiet, "No status line");
  command->add_option("--duration", options.duration, "Stop after this many seconds (default: at Ctrl-C)");
  command->add_option("--answer-timeout", options.answerTimeout, "Seconds the PipeWire server may take to answer")
      ->capture_default_str();
  command->parse_complete_callback([&options, capture] { options.capture = capture->count() > 0; });
}

int RunLiveCommand(const LiveOptions& options) {
  CheckOptions(options);
  if (!options.mapFile.empty() && options.oscPort < 0) throw UsageError("--map needs --osc PORT");
  if (!options.calibrationFile.empty() && options.mapFile.empty())
    throw UsageError("--calibration needs --osc PORT and --map FILE, whose rules it calibrates");
  CatchInterrupts();

  // The plug-in first: a wrong name, preset or parameter needs no server to be told.
  PluginInstance unit(options.unit.plugin);
  unit.SetFormat(kProvisionalRate, options.channels > 0 ? options.channels : 2);
  std::optional<PresetDescription> preset = ApplyUnitSettings(unit, options.unit);
  if (!preset && options.unit.stateFile.empty()) {
    // The unit follows its first preset's measure until told otherwise; say which.
    const std::vector<PresetDescription> presets = unit.FactoryPresets();
    if (!presets.empty()) {
      unit.SelectFactoryPreset(presets.front());
      preset = presets.front();
    }
  } else if (!preset) {
    // A saved state's own preset name, unless it has none.
    const PresetDescription current = unit.CurrentPreset();
    if (!current.name.empty() && current.name != "Untitled") preset = current;
  }
  const std::optional<PresetMeasure> measure = FollowedMeasure(unit, preset);
  std::string what = unit.Name();
  if (preset && preset->number >= 0) what += " preset " + std::to_string(preset->number);
  if (preset) what += " \"" + preset->name + "\"";
  if (measure) what += " (" + measure->symbol + ", " + (measure->filterMode ? "filter" : "gain") + " mode)";

  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  std::string busProblem;
  if (options.oscPort < 0 && QelvoNotificationCenterWaitUntilConnected(center, kLiveBusWaitSeconds, &busProblem) < 0)
    std::fprintf(stderr,
                 "qelvo live: no session bus (%s), so the plug-in hears no levels; run qelvo live in a\n"
                 "desktop session, or start one with\n  dbus-run-session -- bash\n",
                 busProblem.c_str());
  LiveLevelLog levels(center);  // after the unit: it hears each level after the unit did
  LiveProcessor processor(unit.Unit());
  processor.WatchLevelCount(&levels.Count());
  // Made now, so an unwritable place fails before anything runs.
  std::optional<AtomicOutput> levelFile;
  if (!options.recordLevels.empty()) levelFile.emplace(options.recordLevels);
  // The input file needs the graph's rate to be made; its place is tried now.
  if (!options.recordInput.empty()) {
    AtomicOutput probe(options.recordInput);
  }

  std::optional<LiveOscBridge> bridge;
  if (options.oscPort >= 0) bridge.emplace(options.oscPort, options.mapFile, options.calibrationFile);

  LiveGraphOptions graphOptions;
  graphOptions.capture = options.capture;
  graphOptions.captureTarget = options.captureTarget;
  graphOptions.target = options.target;
  graphOptions.channels = options.channels;
  graphOptions.nodeName = "qelvo-" + unit.Name();
  graphOptions.description = "Qelvo " + unit.Name() + (preset ? " (" + preset->name + ")" : "");
  graphOptions.answerTimeout = options.answerTimeout;
  LiveGraph graph(graphOptions);

  const bool showStatus = !options.quiet && isatty(STDERR_FILENO) != 0;
  StatusLine status(showStatus);
  std::unique_ptr<LiveInputRecorder> recorder;
  bool recordingStopped = false;
  LiveGraphFormat format;
  graph.Start(processor, [&](const LiveGraphFormat& f) {
    if (!options.recordInput.empty() && !recordingStopped) {
      if (!recorder) {
        recorder = std::make_unique<LiveInputRecorder>(options.recordInput, f.sampleRate, f.channels);
        processor.SetInputTap(recorder.get());
      } else if (recorder->SampleRate() != f.sampleRate || recorder->Channels() != f.channels) {
        processor.SetInputTap(nullptr);
        recordingStopped = true;
        status.Say("qelvo live: the format changed, so the input recording stops here");
      }
    }
    status.Say("qelvo live: running at " + std::to_string(static_cast<long long>(f.sampleRate)) + " Hz, " +
               std::to_string(f.channels) + " channel" + (f.channels == 1 ? "" : "s"));
    format = f;
  });
  status.Say("qelvo live: " + what + " " + graph.InputDescription() + " -> " + graph.OutputDescription() +
             (options.duration > 0 ? "" : "; Ctrl-C stops"));

  const Clock::time_point start = Clock::now();
  Clock::time_point lastStatus = start;
  LiveCounters lastCounters;
  bool saidWaiting = false;
  std::string failure;
  graph.Run([&] {
    if (Interrupted()) return false;
    const Clock::time_point now = Clock::now();
    if (options.duration > 0 && now - start >= std::chrono::duration<double>(options.duration)) return false;
    levels.Collect(processor);
    if (!saidWaiting && !graph.Streaming() && now - start >= kLinkPatience) {
      saidWaiting = true;
      status.Say("qelvo live: not linked into the graph yet; is a session manager (wireplumber) running?");
    }
    if (showStatus && now - lastStatus >= kStatusPeriod) {
      lastStatus = now;
      const LiveCounters c = processor.Counters();
      LiveStatus s;
      if (measure) s.symbol = measure->symbol;
      s.report = ReadReport(unit.Unit());
      s.levels = levels.Count().load();
      s.sampleRate = format.sampleRate;
      s.quantum = c.quantum;
      s.xruns = c.xruns;
      if (c.quantumNs > lastCounters.quantumNs && c.cycles > lastCounters.cycles) {
        s.averageShare = static_cast<double>(c.busyNs - lastCounters.busyNs) /
                         static_cast<double>(c.quantumNs - lastCounters.quantumNs);
        s.peakShare = processor.TakeRecentLongestShare();
      }
      lastCounters = c;
      status.Show(LiveStatusLine(s));
    }
    return true;
  });
  status.Clear();
  if (failure.empty()) failure = graph.Failure();

  // What was recorded is kept even when the graph failed: it is the session so far.
  levels.Collect(processor);
  const double seconds = processor.SessionSeconds();
  if (levelFile) {
    const std::string text =
        LevelCsvText(levels.Events(seconds), {"qelvo live session: " + what + ", " +
                                              std::to_string(static_cast<long long>(format.sampleRate)) + " Hz"});
    levelFile->Write(text.data(), text.size());
    levelFile->Commit();
  }
  if (recorder) {
    recorder->Finish();
    if (recorder->FramesDropped() > 0)
      std::fprintf(stderr, "qelvo live: the input recording lost %llu frames (the disk fell behind)\n",
                   static_cast<unsigned long long>(recorder->FramesDropped()));
  }

  const LiveCounters c = processor.Counters();
  LiveSummary summary;
  summary.seconds = seconds;
  summary.levels = levels.Count().load();
  summary.skippedCycles = c.skippedCycles;
  summary.lateCycles = c.lateCycles;
  summary.missingBuffers = c.missingBuffers;
  summary.renderFailures = c.renderFailures;
  summary.longestNs = c.longestNs;
  summary.longestShare = c.longestShare;
  summary.averageShare = c.quantumNs > 0 ? static_cast<double>(c.busyNs) / static_cast<double>(c.quantumNs) : 0;
  std::printf("%s\n", LiveSummaryLine(summary).c_str());
  std::fflush(stdout);
  bridge.reset();
  if (!failure.empty()) throw ToolError(failure);
  return kExitOk;
}
