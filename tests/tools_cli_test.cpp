// The program's commands end to end: what info reports, saved states through
// files, and every kind of bad input: a clear message, a non-zero exit and
// nothing half-written.
#include <gtest/gtest.h>

#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

// No bus at all, so the bus commands must say how to start one.
const BackgroundTool::Env kNoBus = {{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", ""}};

TEST(Info, ListsTheTenDeliverables) {
  REQUIRE_BUNDLES();
  const ToolResult r = RunTool({kQelvo, "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"AUQelvoBS1", "AUQelvoBS4", "AUQelvoBS8", "AUQelvoPeakLeft", "AUQelvoPeakRight"})
    EXPECT_NE(r.out.find(name), std::string::npos) << name;
  EXPECT_NE(r.out.find("org.qelvo.audiounit.AUQelvoBS7"), std::string::npos);
}

TEST(Info, DescribesPresetsMeasuresParametersAndProperties) {
  REQUIRE_BUNDLES();
  // Display strings follow the locale; the plain one has no digit grouping.
  const ToolResult r = RunTool({kQelvo, "info", "AUQelvoBS7", "--rate", "48000"}, {{"LC_ALL", "C"}});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* text : {"Follows the band 7 measures", "0  LCH Count-Gain", "follows BS7V0", "level x 0.3",
                           "11  Coherence F-Filter", "follows BS7F4", "drives the cutoff (filter mode)",
                           "cutoff frequency", "24000", "resonance", "-20", "dB", "Gain", "tail time", "0.001",
                           "frequency response     property 67808"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

  const ToolResult peak = RunTool({kQelvo, "info", "AUQelvoPeakRight"});
  ASSERT_EQ(peak.status, 0) << peak.err;
  EXPECT_NE(peak.out.find("right peak"), std::string::npos);
  EXPECT_NE(peak.out.find("3  Peak F-Filter"), std::string::npos);
  EXPECT_NE(peak.out.find("follows peakRF"), std::string::npos);
  EXPECT_EQ(peak.out.find("Coherence"), std::string::npos);
}

TEST(Info, FrequencyResponseIsUnityBelowTheCutoffAndPeaksWithResonance) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const ToolResult r = RunTool({kQelvo, "info", "AUQelvoBS3", "--response", "--response-png", dir.File("r.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  // The table's first row is 10 Hz, far below the 1000 Hz default cutoff.
  const size_t header = r.out.find("frequency_hz");
  ASSERT_NE(header, std::string::npos);
  double f = 0, m = 0, db = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.find('\n', header) + 1, "%lf %lf %lf", &f, &m, &db), 3);
  EXPECT_NEAR(f, 10.0, 1e-9);
  EXPECT_NEAR(m, 1.0, 1e-3);
  EXPECT_EQ(ReadBytes(dir.File("r.png")).substr(1, 3), "PNG");
}

TEST(SavedState, SaveThenRenderBringsBackParametersAndPreset) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  ToolResult r = RunTool({kQelvo, "state", "save", "--plugin", "AUQelvoBS7", "--preset", "LCH Count-Gain", "--param",
                          "gain=0.25", dir.File("s.plist")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string xml = ReadBytes(dir.File("s.plist"));
  for (const char* key : {"<key>version</key>", "<key>subtype</key>", "<key>manufacturer</key>", "<key>data</key>",
                          "<string>LCH Count-Gain</string>"})
    EXPECT_NE(xml.find(key), std::string::npos) << key << "\n" << xml;

  // No --preset: the state's preset name brings gain mode back, and its gain parameter.
  const Planar input = TestSignal(1, 2000, 9);
  WriteAudio(dir.File("in.wav"), input, 44100);
  r = RunTool({kQelvo, "render", "--plugin", "AUQelvoBS7", "--state", dir.File("s.plist"), dir.File("in.wav"),
               dir.File("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("preset 0 \"LCH Count-Gain\""), std::string::npos) << r.out;
  const std::vector<float> out = ReadAudio(dir.File("out.wav")).channels[0];
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], (input[0][i] * 0.25f) * 1.0f) << i;

  // Another deliverable's state is reported as that deliverable's.
  r = RunTool({kQelvo, "render", "--plugin", "AUQelvoBS6", "--state", dir.File("s.plist"), dir.File("in.wav"),
               dir.File("other.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("qelvo: " + dir.File("s.plist") + " is a saved state of AUQelvoBS7, not of AUQelvoBS6"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists(dir.File("other.wav")));
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // "@" + name: a file in the scratch directory
  int status;
  const char* message;
  bool noBus = false;
};

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, FailClearlyAndLeaveNoOutput) {
  REQUIRE_BUNDLES();
  const BadInput& c = GetParam();
  ScratchDir dir;
  WriteAudio(dir.File("in.wav"), TestSignal(2, 1000), 44100);
  WriteText(dir.File("bad.csv"), "time_s,symbol,level\n0,BS7V0,1\n\n0.5,BS7V0,loud\n");
  WriteText(dir.File("notaudio.wav"), "RIFF but not really");
  WriteText(dir.File("levels.csv"), "time_s,symbol,level\n0,BS7V0,1\n");
  WriteText(dir.File("bad.map"), "/openbci/band-power/0 zero BS1V0\n");
  std::vector<std::string> args = {kQelvo};
  for (const std::string& a : c.args) args.push_back(a.starts_with("@") ? dir.File(a.substr(1)) : a);
  const ToolResult r = RunTool(args, c.noBus ? kNoBus : BackgroundTool::Env{});
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  const std::vector<std::string> entries = dir.Entries();
  EXPECT_EQ(entries.size(), 5u) << "something was written: " << ::testing::PrintToString(entries);
}

const std::vector<std::string> kRender = {"render", "--plugin", "AUQelvoBS7", "--preset", "1"};
std::vector<std::string> Render(std::vector<std::string> extra, std::vector<std::string> base = kRender) {
  base.insert(base.end(), extra.begin(), extra.end());
  return base;
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, BadInputs,
    ::testing::Values(
        BadInput{"UnknownPlugin", {"render", "--plugin", "AUQelvoBS9", "--preset", "0", "@in.wav", "@out.wav"}, 2,
                 "unknown plug-in 'AUQelvoBS9'; installed: AUQelvoBS1"},
        BadInput{"UnknownPluginInfo", {"info", "NoSuch"}, 2, "installed: AUQelvoBS1"},
        BadInput{"UnknownPresetNumber", Render({"@in.wav", "@out.wav"}, {"render", "--plugin", "AUQelvoPeakLeft", "--preset", "4"}), 2,
                 "unknown preset '4' for AUQelvoPeakLeft; its presets are:\n  0  Peak V-Gain"},
        BadInput{"UnknownPresetName", Render({"@in.wav", "@out.wav"}, {"render", "--plugin", "AUQelvoBS7", "--preset", "Loud"}), 2,
                 "11  Coherence F-Filter"},
        BadInput{"NoPreset", {"render", "--plugin", "AUQelvoBS7", "@in.wav", "@out.wav"}, 2, "choose a preset with --preset"},
        BadInput{"UnknownParameter", Render({"--param", "drive=2", "@in.wav", "@out.wav"}), 2,
                 "unknown parameter 'drive' for AUQelvoBS7; its parameters are:\n  0  cutoff frequency (12 to 22050 Hz)"},
        BadInput{"ParameterOutOfRange", Render({"--param", "cutoff=30000", "@in.wav", "@out.wav"}), 2,
                 "cutoff frequency must be between 12 and 22050 Hz, got 30000"},
        BadInput{"ParameterNotANumber", Render({"--param", "gain=max", "@in.wav", "@out.wav"}), 2, "must be a number"},
        BadInput{"MissingInput", Render({"@nothere.wav", "@out.wav"}), 1, "cannot read"},
        BadInput{"UnsupportedAudio", Render({"@notaudio.wav", "@out.wav"}), 1, "notaudio.wav: "},
        BadInput{"CsvBadRow", Render({"--levels", "@bad.csv", "@in.wav", "@out.wav"}), 1,
                 "bad.csv:4: the level must be a finite number"},
        BadInput{"MissingCsv", Render({"--levels", "@none.csv", "@in.wav", "@out.wav"}), 1, "cannot read"},
        BadInput{"OutputDirectoryMissing", Render({"@in.wav", "@no/dir/out.wav"}), 1, "cannot write"},
        BadInput{"UnknownFormat", Render({"--format", "mp9", "@in.wav", "@out.wav"}), 2, "unknown output format 'mp9'"},
        BadInput{"BlockTooLarge", Render({"--format", "ogg", "@in.wav", "@out.wav"}, {"render", "--plugin", "AUQelvoBS7", "--preset", "0", "--block", "99999"}), 2,
                 "--block must be between 1 and 16384"},
        BadInput{"LevelsAndLive", Render({"--levels", "@levels.csv", "--live", "@in.wav", "@out.wav"}), 2, "excludes"},
        BadInput{"StateFileMissing", Render({"--state", "@none.plist", "@in.wav", "@out.wav"}), 1, "cannot read"},
        BadInput{"StateFileNotAPlist", Render({"--state", "@levels.csv", "@in.wav", "@out.wav"}), 1, "not an XML property list"},
        BadInput{"LiveWithoutBus", Render({"--live", "@in.wav", "@out.wav"}), 1, "dbus-run-session -- qelvo render --live", true},
        BadInput{"PostWithoutBus", {"post", "BS7V0", "10"}, 1, "dbus-run-session -- bash", true},
        BadInput{"PostBadLevel", {"post", "BS7V0", "ten"}, 2, "the level must be a finite number"},
        BadInput{"PostInfiniteLevel", {"post", "BS7V0", "inf"}, 2, "the level must be a finite number"},
        BadInput{"ReplayWithoutBus", {"replay", "@levels.csv"}, 1, "dbus-run-session -- qelvo replay", true},
        BadInput{"ReplayBadCsv", {"replay", "@bad.csv"}, 1, "bad.csv:4:"},
        BadInput{"MonitorWithoutBus", {"monitor"}, 1, "dbus-run-session -- qelvo monitor", true},
        BadInput{"BridgeBadMap", {"bridge", "--osc-port", "0", "--map", "@bad.map"}, 1, "bad.map:1: the argument is an index"},
        BadInput{"BridgeBadPort", {"bridge", "--osc-port", "70000"}, 2, "--osc-port must be between 0 and 65535"},
        BadInput{"NoSubcommand", {}, 2, "A subcommand is required"},
        BadInput{"StateSaveOutOfRange", {"state", "save", "--plugin", "AUQelvoBS7", "--param", "resonance=99", "@s.plist"}, 2,
                 "resonance must be between -20 and 20 dB, got 99"}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return info.param.name; });

}  // namespace
