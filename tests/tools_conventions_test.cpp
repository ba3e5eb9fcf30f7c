// The habits users bring from other command-line audio tools: commands and
// help found by name, every error led by "qelvo:" with a documented status,
// a "did you mean" for a mistyped name, warnings for levels that change
// nothing, quiet and verbose renders, the time left, and text files as
// editors and senders write them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "support/ToolErrorText.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/BridgeMap.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/LevelSymbols.h"
#include "tools/qelvo/Progress.h"
#include "tools/qelvo/Suggest.h"
#include "tools/qelvo/ToolError.h"

namespace {

const BackgroundTool::Env kNoBus = {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", ""}};

struct Invocation {
  std::vector<std::string> args;  // after the program; "@X" is a file in the scratch directory
  int status;
  const char* err;  // expected in stderr ("" for none); or, for status 0, in stdout
};

ToolResult RunIn(const ScratchDir& dir, const std::vector<std::string>& args, const BackgroundTool::Env& env = {}) {
  std::vector<std::string> full = {kQelvo};
  for (const std::string& a : args) full.push_back(a.starts_with("@") ? dir.File(a.substr(1)) : a);
  return RunTool(full, env);
}

TEST(Commands, UnknownOnesAreNamedWithTheNearestAndHelpTakesACommand) {
  const Invocation runs[] = {
      {{"rendr", "in.wav", "out.wav"}, 2, "qelvo: unknown command 'rendr' (did you mean 'render'?); the commands are: demo, render"},
      {{"state", "sav", "s.plist"}, 2, "qelvo: unknown command 'state sav' (did you mean 'state save'?)"},
      {{"frobnicate"}, 2, "qelvo: unknown command 'frobnicate'; the commands are:"},
      {{"help"}, 0, "Exit status: 0 done; 1 the work could not be done"},
      {{"help", "render"}, 0, "Usage: qelvo render [OPTIONS] IN OUT"},
      {{"help", "state", "save"}, 0, "Usage: qelvo state save [OPTIONS] FILE"},
      {{"help", "rendr"}, 2, "qelvo: unknown command 'rendr' (did you mean 'render'?)"},
  };
  ScratchDir dir;
  for (const Invocation& run : runs) {
    SCOPED_TRACE(::testing::PrintToString(run.args));
    const ToolResult r = RunIn(dir, run.args);
    EXPECT_EQ(r.status, run.status) << r.err;
    EXPECT_NE((run.status == 0 ? r.out : r.err).find(run.err), std::string::npos) << r.out << r.err;
  }
}

TEST(Errors, EveryMessageLeadsWithQelvoAndTheStatusSaysWhose) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  const Invocation runs[] = {
      // The command line: 2.
      {{"post", "BS 7", "3"}, 2, "qelvo: the symbol must be a measure name such as BS7V0 (no spaces, quotes or commas), got 'BS 7'"},
      {{"render", "--plugin", "AUQelvoBS7", "@in.wav"}, 2, "qelvo: render: OUT is required\nRun 'qelvo help render'"},
      {{"render", "--plugin", "AUQelvoBS7", "--block", "many", "@in.wav", "@o.wav"}, 2, "qelvo: render: "},
      {{"render", "-q", "-v", "--plugin", "AUQelvoBS7", "--preset", "0", "@in.wav", "@o.wav"}, 2, "qelvo: render: "},
      {{"info", "AUQelvoBS7", "--rate", "1"}, 2, "qelvo: --rate must be between 8000 and 384000 Hz"},
      // The work: 1.
      {{"render", "--plugin", "AUQelvoBS7", "--preset", "0", "@none.wav", "@o.wav"}, 1, "qelvo: cannot read "},
      {{"post", "BS7V0", "3"}, 1, "qelvo: no session bus"},
      {{"render", "--plugin", "AUQelvoBS7", "--state", "@other.plist", "@in.wav", "@o.wav"}, 1,
       "other.plist is a saved state of another plug-in (subtype 1234, manufacturer -99), not of AUQelvoBS7"},
  };
  WriteText(dir.File("other.plist"),
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>version</key><integer>0</integer>"
            "<key>subtype</key><integer>1234</integer><key>manufacturer</key><integer>-99</integer></dict></plist>");
  for (const Invocation& run : runs) {
    SCOPED_TRACE(::testing::PrintToString(run.args));
    const ToolResult r = RunIn(dir, run.args, kNoBus);
    EXPECT_EQ(r.status, run.status) << r.err;
    EXPECT_TRUE(r.err.starts_with("qelvo:")) << r.err;
    EXPECT_NE(r.err.find(run.err), std::string::npos) << r.err;
  }
  EXPECT_EQ(dir.Entries().size(), 2u) << ::testing::PrintToString(dir.Entries());
}

TEST(Errors, AudioIsNotWrittenToATerminal) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  const ToolResult r = RunTool({"sh", "-c", "exec \"$0\" \"$@\" > " + terminal, kQelvo, "render", "--plugin",
                                "AUQelvoBS7", "--preset", "0", dir.File("in.wav"), "-"});
  close(master);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("qelvo: will not write audio to a terminal"), std::string::npos) << r.err;
}

TEST(Errors, AFailedWriteToStandardOutputFails) {
  REQUIRE_BUNDLES();
  for (const char* command : {"info", "info AUQelvoBS7", "--help", "help render"}) {
    SCOPED_TRACE(command);
    const ToolResult r = RunTool({"sh", "-c", "exec \"$0\" " + std::string(command) + " > /dev/full", kQelvo});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("qelvo: cannot write to standard output"), std::string::npos) << r.err;
  }
}

TEST(Names, AMistypedNameGetsTheNearestValidOne) {
  struct Case {
    const char* wanted;
    std::vector<std::string> candidates;
    const char* expected;  // "" for no suggestion
  } cases[] = {
      {"BS7VO", {"BS7V0", "BS7F0", "BS7V1", "BS7F1", "BS7V4", "BS7F4"}, "BS7V0"},  // O for 0 beats 1 for 0
      {"auqelvobs7", {"AUQelvoBS6", "AUQelvoBS7", "AUQelvoPeakLeft"}, "AUQelvoBS7"},
      {"BS7", {"AUQelvoBS6", "AUQelvoBS7", "AUQelvoPeakLeft"}, "AUQelvoBS7"},
      {"AUQelvoBS9", {"AUQelvoBS1", "AUQelvoBS2", "AUQelvoBS8"}, ""},  // as near to each: no guess
      {"lch count filtr", {"LCH Count-Gain", "LCH Count-Filter", "RCH Count-Filter"}, "LCH Count-Filter"},
      {"cuttoff", {"cutoff frequency", "resonance", "Gain"}, "cutoff frequency"},
      {"drive", {"cutoff frequency", "resonance", "Gain"}, ""},
      {"q", {"cutoff frequency", "resonance", "Gain"}, ""},
      {"rendr", {"demo", "render", "replay"}, "render"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> got = ClosestName(c.wanted, c.candidates);
    EXPECT_EQ(got.value_or(""), c.expected) << c.wanted;
  }
}

TEST(Names, EveryKindOfNameOffersIt) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 100), 8000);
  const std::vector<std::string> render = {"render", "--plugin", "AUQelvoBS7", "--preset", "1"};
  auto with = [&](std::vector<std::string> base, std::vector<std::string> extra) {
    base.insert(base.end(), extra.begin(), extra.end());
    return base;
  };
  const Invocation runs[] = {
      {{"render", "--plugin", "BS7", "--preset", "1", "@in.wav", "@o.wav"}, 2,
       "qelvo: unknown plug-in 'BS7' (did you mean 'AUQelvoBS7'?); installed: AUQelvoBS1"},
      {{"render", "--plugin", "AUQelvoBS7", "--preset", "LCH Count Filtr", "@in.wav", "@o.wav"}, 2,
       "unknown preset 'LCH Count Filtr' for AUQelvoBS7 (did you mean 'LCH Count-Filter'?); its presets are:"},
      {with(render, {"--param", "resonanse=3", "@in.wav", "@o.wav"}), 2,
       "unknown parameter 'resonanse' for AUQelvoBS7 (did you mean 'resonance'?); its parameters are:"},
      // Posted anyway; here the missing bus ends it.
      {{"post", "BS7VO", "3"}, 1, "qelvo: warning: no plug-in follows BS7VO (did you mean 'BS7V0'?); posting it anyway"},
  };
  for (const Invocation& run : runs) {
    SCOPED_TRACE(::testing::PrintToString(run.args));
    const ToolResult r = RunIn(dir, run.args, kNoBus);
    EXPECT_EQ(r.status, run.status) << r.err;
    EXPECT_NE(r.err.find(run.err), std::string::npos) << r.err;
  }
}

std::vector<LevelEvent> Levels(std::initializer_list<const char*> symbols) {
  std::vector<LevelEvent> levels;
  int line = 2;
  for (const char* s : symbols) levels.push_back({0, s, 1, line++});
  return levels;
}

TEST(LevelWarnings, SymbolsThePluginNeverFollowsAreNamedWithTheirLine) {
  const LevelSymbolCheck check{"l.csv", "AUQelvoBS7", {"BS7V0", "BS7F0", "BS7V1", "BS7F1", "BS7V4", "BS7F4"},
                               {"BS7V0", "BS7F0", "BS7V1", "BS7F1", "BS7V4", "BS7F4", "BS5V1", "peakRV"},
                               "BS7V0", "preset 1 \"LCH Count-Filter\""};
  struct Case {
    std::vector<LevelEvent> levels;
    std::vector<std::string> warnings;
  } cases[] = {
      {Levels({"BS7V0", "BS7F1", "BS7V0"}), {}},
      {Levels({"BS7V0", "BS7VO", "BS5V1", "BS7VO"}),
       {"l.csv: AUQelvoBS7 never follows BS7VO (line 3; did you mean BS7V0?), BS5V1 (line 4); their levels change "
        "nothing"}},
      {Levels({"BS7F0", "x1", "x2", "x3", "x4", "x1"}),
       {"l.csv: AUQelvoBS7 never follows x1 (line 3), x2 (line 4), x3 (line 5) and 1 more; their levels change nothing",
        "l.csv: no level is for BS7V0, the measure preset 1 \"LCH Count-Filter\" follows; the output is not "
        "modulated"}},
      {{}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(LevelSymbolWarnings(c.levels, check), c.warnings);
}

TEST(LevelWarnings, ARenderWhoseLevelsAllMissSaysSoAndAppliesNone) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 8000), 8000);
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,BS7VO,20\n0.5,BS7F0,3\n");
  const ToolResult r = RunIn(dir, {"render", "--plugin", "AUQelvoBS7", "--preset", "1", "--levels", "@l.csv", "@in.wav", "@o.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("qelvo: warning: " + dir.File("l.csv") + ": AUQelvoBS7 never follows BS7VO (line 2; did you mean BS7V0?)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("no level is for BS7V0"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("2 levels read, none for BS7V0"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("applied"), std::string::npos) << r.out;
}

TEST(RenderMessages, QuietSaysNothingAndVerboseSaysWhy) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(1, 8000), 8000);
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,BS7VO,20\n");
  const std::vector<std::string> base = {"render", "--plugin", "AUQelvoBS7", "--preset", "0", "--levels", "@l.csv"};
  std::vector<std::string> quiet = base, verbose = base;
  quiet.insert(quiet.end(), {"--quiet", "@in.wav", "@o.flac"});
  verbose.insert(verbose.end(), {"-v", "@in.wav", "@o.flac"});
  ToolResult r = RunIn(dir, quiet);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  r = RunIn(dir, verbose);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* text : {"qelvo render: output " , "FLAC", "from the extension .flac", "follows BS7V0 (level x 0.3, gain mode)",
                           "qelvo: warning: "})
    EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
  EXPECT_NE(r.out.find("-> " + dir.File("o.flac")), std::string::npos) << r.out;
}

TEST(Progress, TheTimeLeftFollowsThePaceSoFar) {
  struct Case {
    long long done, total;
    double elapsed;
    const char* left;  // "" for none shown
  } cases[] = {
      {250, 1000, 10, "0:30 left"},   // a quarter in ten seconds
      {900, 1000, 90, "0:10 left"},
      {1, 3600, 1, "59:59 left"},
      {1, 7200, 1, "1:59:59 left"},
      {500, 1000, 0.5, ""},           // too soon to tell
      {1000, 1000, 20, ""},           // done
      {0, 1000, 5, ""},               // no pace yet
      {500, 0, 5, ""},                // total unknown
  };
  for (const Case& c : cases) {
    const std::string line = ProgressLine("rendering", c.done, c.total, c.elapsed);
    if (*c.left == '\0')
      EXPECT_EQ(line.find("left"), std::string::npos) << line;
    else
      EXPECT_TRUE(line.ends_with(std::string("  ") + c.left)) << line;
  }
  EXPECT_NE(ProgressLine("rendering", 250, 1000, 10).find(" 25%"), std::string::npos);
}

TEST(TextFiles, AByteOrderMarkIsSkippedAndAddressPatternsAreRefused) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<LevelEvent> levels = ParseLevelCsv(bom + "time_s,symbol,level\r\n0,BS7V0,2\r\n", "l.csv");
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].symbol, "BS7V0");
  EXPECT_EQ(ParseBridgeMap(bom + "/muse/alpha 0 BS3V0\n", "m.map").rules.at(0).address, "/muse/alpha");
  // Only at the very start: elsewhere it is part of a field.
  EXPECT_NE(ErrorOf([&] { ParseLevelCsv("time_s,symbol,level\n" + bom + "0,BS7V0,2\n", "l.csv"); }), "");

  struct Case {
    const char* address;
    char pattern;
  } cases[] = {{"/muse/*/alpha", '*'}, {"/muse/elements/alpha?", '?'}, {"/openbci/band-power/[01]", '['},
               {"/a/{x,y}", '{'}, {"/a/x]", ']'}, {"/a/x}", '}'}};
  for (const Case& c : cases)
    EXPECT_NE(ErrorOf([&] { ParseBridgeMap(std::string("# patterns\n") + c.address + " 0 BS3V0\n", "m.map"); })
                  .find(std::string("m.map:2: '") + c.pattern + "' makes " + c.address + " an OSC address pattern"),
              std::string::npos)
        << c.address;
}

}  // namespace
