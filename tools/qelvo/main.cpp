// qelvo: the host program of the plug-ins. Subcommands render audio files
// through any deliverable, describe the installed ones, save their state,
// post and watch level notifications, bridge OSC senders onto the bus, and
// run a self-contained demo.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Live.h"
#include "tools/qelvo/ToolError.h"

namespace {

void AddUnitOptions(CLI::App* command, UnitSettings& unit, bool withState) {
  command->add_option("--plugin", unit.plugin, "Deliverable to run, e.g. AUQelvoBS7 (see `qelvo info`)")->required();
  command->add_option("--preset", unit.preset, "Factory preset: its number or its name");
  command->add_option("--param", unit.params, "Parameter setting NAME=VALUE, e.g. cutoff=800; repeatable")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  if (withState) command->add_option("--state", unit.stateFile, "Saved state to restore first (XML property list)");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qelvo: runs the brain-wave driven filter plug-ins on audio files and talks to the level bus"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "qelvo 1.0.0");

  DemoOptions demo;
  CLI::App* demoCmd = app.add_subcommand("demo", "Render the built-in example through AUQelvoBS7 and draw pictures");
  demoCmd->add_option("--out", demo.outDir, "Output directory")->capture_default_str();

  RenderCommandOptions render;
  CLI::App* renderCmd = app.add_subcommand("render", "Render an audio file through a plug-in");
  AddUnitOptions(renderCmd, render.unit, true);
  CLI::Option* levelsOpt =
      renderCmd->add_option("--levels", render.levelsFile, "Level recording (CSV: time_s,symbol,level)");
  renderCmd->add_flag("--live", render.live, "Follow levels from the bus, rendering in real time")->excludes(levelsOpt);
  renderCmd->add_option("--block", render.block, "Frames per render call")->capture_default_str();
  renderCmd->add_option("--format", render.format, "Output format: " + OutputFormatNames())->capture_default_str();
  renderCmd->add_option("IN", render.input, "Input audio file")->required();
  renderCmd->add_option("OUT", render.output, "Output audio file")->required();

  InfoOptions info;
  CLI::App* infoCmd = app.add_subcommand("info", "List installed plug-ins, or describe one");
  infoCmd->add_option("NAME", info.plugin, "Plug-in to describe");
  infoCmd->add_flag("--response", info.response, "Print the frequency-response curve");
  infoCmd->add_option("--response-png", info.responsePicture, "Draw the frequency-response curve into a PNG");
  infoCmd->add_option("--rate", info.sampleRate, "Sample rate to describe the plug-in at")->capture_default_str();

  StateSaveOptions stateSave;
  CLI::App* stateCmd = app.add_subcommand("state", "Saved states as files");
  stateCmd->require_subcommand(1);
  CLI::App* saveCmd = stateCmd->add_subcommand("save", "Write a plug-in's saved state as an XML property list");
  AddUnitOptions(saveCmd, stateSave.unit, false);
  saveCmd->add_option("--rate", stateSave.sampleRate, "Sample rate the parameters are checked at")->capture_default_str();
  saveCmd->add_option("FILE", stateSave.file, "Output file (.plist)")->required();

  PostOptions post;
  CLI::App* postCmd = app.add_subcommand("post", "Post one level on the bus, as the analyser does");
  postCmd->add_option("SYMBOL", post.symbol, "Measure name, e.g. BS7V0")->required();
  postCmd->add_option("LEVEL", post.level, "Level, a number")->required();

  ReplayOptions replay;
  CLI::App* replayCmd = app.add_subcommand("replay", "Post a level recording on the bus in real time");
  replayCmd->add_option("FILE", replay.file, "Level recording (CSV: time_s,symbol,level)")->required();
  replayCmd->add_option("--speed", replay.speed, "Playback speed factor")->capture_default_str();
  replayCmd->add_flag("--loop", replay.loop, "Start over at the end, until interrupted");

  MonitorOptions monitor;
  CLI::App* monitorCmd = app.add_subcommand("monitor", "Print the level notifications seen on the bus");
  monitorCmd->add_option("--count", monitor.count, "Stop after this many notifications");
  monitorCmd->add_option("--timeout", monitor.timeout, "Stop after this many seconds");

  BridgeOptions bridge;
  CLI::App* bridgeCmd = app.add_subcommand("bridge", "Receive OSC over UDP and post the levels on the bus");
  bridgeCmd->add_option("--osc-port", bridge.port, "UDP port to listen on")->required();
  bridgeCmd->add_option("--map", bridge.mapFile, "Address map (see docs/osc-bridge.md); default: /kest/level");
  bridgeCmd->add_option("--bind", bridge.bindAddress, "Address to listen on")->capture_default_str();
  bridgeCmd->add_option("--timeout", bridge.timeout, "Stop after this many seconds");
  bridgeCmd->add_flag("--verbose", bridge.verbose, "Print every message and what became of it");

  LiveOptions live;
  CLI::App* liveCmd =
      app.add_subcommand("live", "Run a plug-in on the desktop's sound: a PipeWire sink or a processed source");
  AddUnitOptions(liveCmd, live.unit, true);
  AddLiveOptions(liveCmd, live);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  try {
    if (*demoCmd) return RunDemoCommand(demo);
    if (*renderCmd) return RunRenderCommand(render);
    if (*infoCmd) return RunInfoCommand(info);
    if (*saveCmd) return RunStateSaveCommand(stateSave);
    if (*postCmd) return RunPostCommand(post);
    if (*replayCmd) return RunReplayCommand(replay);
    if (*monitorCmd) return RunMonitorCommand(monitor);
    if (*bridgeCmd) return RunBridgeCommand(bridge);
    if (*liveCmd) return RunLiveCommand(live);
  } catch (const ToolError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qelvo: %s\n", e.what());
    return e.ExitCode();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qelvo: %s\n", e.what());
    return kExitFailure;
  }
  return kExitUsage;
}
