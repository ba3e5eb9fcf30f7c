// qelvo: the host program of the plug-ins. Subcommands render audio files
// through any deliverable, describe the installed ones, save their state,
// post and watch level notifications, bridge OSC senders onto the bus, and
// run a self-contained demo.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/Suggest.h"
#include "tools/qelvo/Live.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::vector<CLI::App*> Subcommands(CLI::App* app) {
  return app->get_subcommands([](CLI::App*) { return true; });
}

CLI::App* FindSubcommand(CLI::App* app, const std::string& name) {
  for (CLI::App* sub : Subcommands(app))
    if (sub->get_name() == name) return sub;
  return nullptr;
}

// "unknown command 'rendr' (did you mean 'render'?); the commands are: ..."
// for a word where a command belongs; empty when it names one.
std::string UnknownCommand(CLI::App* app, const std::string& word, const std::string& path) {
  if (FindSubcommand(app, word) != nullptr) return "";
  std::vector<std::string> names;
  for (CLI::App* sub : Subcommands(app)) names.push_back(sub->get_name());
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  const std::optional<std::string> near = ClosestName(word, names);
  return "unknown command '" + path + word + "'" + (near ? " (did you mean '" + path + *near + "'?)" : "") +
         "; the commands are: " + list;
}

// Commands are checked before parsing, so a mistyped one is named as such
// rather than reported as a missing command.
std::string CheckCommandWords(CLI::App* app, int argc, char** argv) {
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') return "";
    if (std::string problem = UnknownCommand(app, word, path); !problem.empty()) return problem;
    app = FindSubcommand(app, word);
    if (Subcommands(app).empty()) return "";
    path += word + " ";
  }
  return "";
}

// qelvo help [COMMAND [SUBCOMMAND]], answered before parsing so the help
// shown is the one asked for, not the help command's own.
int RunHelp(CLI::App& app, const std::vector<std::string>& words) {
  CLI::App* target = &app;
  std::string path;           // "state " on the way to "state save"
  std::string parent = "qelvo";  // the usage line names the command under its parents
  for (const std::string& word : words) {
    if (std::string problem = UnknownCommand(target, word, path); !problem.empty()) {
      std::fprintf(stderr, "qelvo: %s\n", problem.c_str());
      return kExitUsage;
    }
    if (target != &app) parent += " " + target->get_name();
    target = FindSubcommand(target, word);
    path += word + " ";
  }
  std::cout << (target == &app ? app.help() : target->help(parent));
  return kExitOk;
}

// A command-line mistake, worded like every other error, with where to look.
int ReportParseError(CLI::App& app, const CLI::ParseError& e) {
  std::string command;
  for (CLI::App* sub = &app;;) {
    CLI::App* chosen = nullptr;
    for (CLI::App* s : Subcommands(sub))
      if (s->count() > 0) chosen = s;
    if (chosen == nullptr) break;
    command += " " + chosen->get_name();
    sub = chosen;
  }
  std::fprintf(stderr, "qelvo:%s%s %s\nRun 'qelvo help%s' for the options.\n", command.c_str(),
               command.empty() ? "" : ":", e.what(), command.c_str());
  return kExitUsage;
}

// Output that could not be written (a full disk, a closed pipe) is a failure,
// even when the command itself went well.
int CheckStandardOutput(int status) {
  std::cout.flush();
  errno = 0;
  const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout;
  if (!failed) return status;
  const int error = errno;
  std::fprintf(stderr, "qelvo: cannot write to standard output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return status == kExitOk ? kExitFailure : status;
}

void AddUnitOptions(CLI::App* command, UnitSettings& unit, bool withState) {
  command->add_option("--plugin", unit.plugin, "Deliverable to run, e.g. AUQelvoBS7 (see `qelvo info`)")->required();
  command->add_option("--preset", unit.preset, "Factory preset: its number or its name");
  command->add_option("--param", unit.params, "Parameter setting NAME=VALUE, e.g. cutoff=800; repeatable")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  if (withState) command->add_option("--state", unit.stateFile, "Saved state to restore first (XML property list)");
}

int Run(int argc, char** argv) {
  CLI::App app{"qelvo: runs the brain-wave driven filter plug-ins on audio files and talks to the level bus", "qelvo"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "qelvo 1.0.0");
  app.footer(
      "qelvo help COMMAND shows the options of a command.\n"
      "Exit status: 0 done; 1 the work could not be done (a missing, unreadable or bad file, no bus, a status\n"
      "from the plug-in, a failed write); 2 a wrong command line (unknown command, option, plug-in, preset or\n"
      "parameter, a value out of range); 130 or 143 a render stopped by Ctrl-C or SIGTERM.");

  DemoOptions demo;
  CLI::App* demoCmd = app.add_subcommand("demo", "Render the built-in example through AUQelvoBS7 and draw pictures");
  demoCmd->add_option("--out", demo.outDir, "Output directory")->capture_default_str();

  RenderCommandOptions render;
  CLI::App* renderCmd = app.add_subcommand("render", "Render an audio file through a plug-in");
  renderCmd->footer(
      "Ctrl-C or SIGTERM stops a render at the next slice and keeps what was rendered (exit status 130 or 143);\n"
      "a second one removes the unfinished output and exits at once.");
  AddUnitOptions(renderCmd, render.unit, true);
  CLI::Option* levelsOpt = renderCmd->add_option(
      "--levels", render.levelsFile, "Level recording (CSV: time_s,symbol,level); - reads standard input");
  renderCmd->add_flag("--live", render.live, "Follow levels from the bus, rendering in real time")->excludes(levelsOpt);
  renderCmd->add_option("--block", render.block, "Frames per render call")->capture_default_str();
  renderCmd->add_option("--format", render.format,
                        "Output format: " + OutputFormatNames() +
                            " (same: the input's); default: the container OUT's extension names, else the input's");
  CLI::Option* quietOpt = renderCmd->add_flag("-q,--quiet", render.quiet, "Print errors only");
  renderCmd->add_flag("-v,--verbose", render.verbose, "Also say what was chosen and why")->excludes(quietOpt);
  renderCmd->add_option("IN", render.input, "Input audio file")->required();
  renderCmd->add_option("OUT", render.output, "Output audio file; - writes standard output")->required();

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
  saveCmd->add_option("FILE", stateSave.file, "Output file (.plist); - writes standard output")->required();

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
  monitorCmd->add_option("--plot", monitor.plot, "At the end, draw the levels seen (and the bridge's raw values) into a PNG");

  BridgeOptions bridge;
  CLI::App* bridgeCmd = app.add_subcommand("bridge", "Receive OSC over UDP and post the levels on the bus");
  bridgeCmd->add_option("--osc-port", bridge.port, "UDP port to listen on")->required();
  bridgeCmd->add_option("--map", bridge.mapFile, "Address map (see docs/osc-bridge.md); default: /kest/level");
  bridgeCmd->add_option("--bind", bridge.bindAddress, "Address to listen on")->capture_default_str();
  CLI::Option* bridgeTimeout = bridgeCmd->add_option("--timeout", bridge.timeout, "Stop after this many seconds");
  bridgeCmd->add_flag("--verbose", bridge.verbose, "Print every message and what became of it");
  bridgeCmd
      ->add_option("--calibrate", bridge.levels.calibrateSeconds,
                   "Collect a baseline for this many seconds, write it (--save-calibration) and stop")
      ->check(CLI::PositiveNumber)
      ->excludes(bridgeTimeout);
  bridgeCmd->add_option("--save-calibration", bridge.levels.saveCalibration, "Where --calibrate writes the baseline");
  bridgeCmd->add_option("--calibration", bridge.levels.calibrationFile,
                        "Start the map's adaptive rules from a saved baseline");

  LiveOptions live;
  CLI::App* liveCmd =
      app.add_subcommand("live", "Run a plug-in on the desktop's sound: a PipeWire sink or a processed source");
  AddUnitOptions(liveCmd, live.unit, true);
  AddLiveOptions(liveCmd, live);


  // Listed with the commands; answered before parsing (RunHelp).
  std::vector<std::string> helpWords;
  CLI::App* helpCmd = app.add_subcommand("help", "Show the help of qelvo, or of one command: qelvo help COMMAND");
  helpCmd->add_option("COMMAND", helpWords, "Command, e.g. render or state save");

  if (const std::string problem = CheckCommandWords(&app, argc, argv); !problem.empty()) {
    std::fprintf(stderr, "qelvo: %s\nRun 'qelvo help' for the commands.\n", problem.c_str());
    return kExitUsage;
  }
  if (argc >= 2 && std::string(argv[1]) == "help") {
    std::vector<std::string> words(argv + 2, argv + argc);
    if (!words.empty() && words[0].starts_with("-")) words.clear();  // qelvo help --help
    return RunHelp(app, words);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ReportParseError(app, e);
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
  } catch (...) {
    // Caught so the stack unwinds and temporary outputs are removed.
    std::fflush(stdout);
    std::fprintf(stderr, "qelvo: internal error\n");
    return kExitFailure;
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) { return CheckStandardOutput(Run(argc, argv)); }
