// qelvo live in a private PipeWire graph with no hardware: what it plays to
// a null sink, recorded from that sink's monitor, is what `qelvo render`
// makes of the same file; levels posted from another process act as the
// offline render predicts; a recorded session renders again the same; it
// starts, stops and refuses cleanly. The filter-chain example runs in the
// same kind of graph.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#include "support/OscPackets.h"
#include "support/PrivateBus.h"
#include "support/PrivateGraph.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/LevelCsv.h"

namespace {

constexpr int kRate = 48000;  // the graph's own rate: no conversion anywhere
const std::string kSink = "qelvo-AUQelvoBS7";

// Noise, then silence: pw-play may drop its last partial cycle, which then
// holds nothing the comparison looks at.
Planar NoiseThenSilence(double seconds, uint32_t seed) {
  Planar p = TestSignal(2, static_cast<size_t>(seconds * kRate), seed);
  for (auto& c : p) c.resize(c.size() + kRate / 2, 0.0f);
  return p;
}

size_t FirstSound(const std::vector<float>& x) {
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i] != 0.0f) return i;
  return x.size();
}

struct Agreement {
  size_t compared = 0;
  size_t identical = 0;
  double correlation = 0;
  int relocked = 0;  // times the alignment moved: cycles an xrun dropped or repeated
};

constexpr size_t kBlock = 256;
constexpr long kRelockReach = kRate / 2;

// Samples of both channels identical in want's block [i, i + n) at got[at + i].
size_t IdenticalIn(const Planar& got, long at, const Planar& want, size_t i, size_t n) {
  size_t same = 0;
  for (size_t c = 0; c < want.size(); ++c)
    for (size_t k = i; k < i + n; ++k) {
      const long g = at + static_cast<long>(k);
      same += g >= 0 && static_cast<size_t>(g) < got[c].size() && got[c][g] == want[c][k];
    }
  return same;
}

// got[at + i] against want[i] over want's length, both channels, block by
// block. A loaded machine may drop or repeat a graph cycle (an xrun), which
// shifts everything after it; a block that no longer matches looks for the
// shift nearby and goes on from there, so only the blocks around an xrun
// count as different.
Agreement Compare(const Planar& got, size_t start, const Planar& want) {
  Agreement a;
  double gw = 0, gg = 0, ww = 0;
  long at = static_cast<long>(start);
  const size_t length = want[0].size();
  for (size_t i = 0; i < length; i += kBlock) {
    const size_t n = std::min(kBlock, length - i);
    const size_t full = n * want.size();
    if (IdenticalIn(got, at, want, i, n) < full * 9 / 10) {
      // A shift is where the block's first sound sample appears again.
      size_t first = i;
      while (first < i + n && want[0][first] == 0.0f) ++first;
      if (first < i + n) {
        for (long d = -kRelockReach; d <= kRelockReach; ++d) {
          const long g = at + static_cast<long>(first) + d;
          if (d == 0 || g < 0 || static_cast<size_t>(g) >= got[0].size() || got[0][g] != want[0][first]) continue;
          if (IdenticalIn(got, at + d, want, i, n) >= full * 9 / 10) {
            at += d;
            ++a.relocked;
            break;
          }
        }
      }
    }
    for (size_t c = 0; c < want.size(); ++c)
      for (size_t k = i; k < i + n; ++k) {
        const long gi = at + static_cast<long>(k);
        if (gi < 0 || static_cast<size_t>(gi) >= got[c].size()) continue;
        const double g = got[c][gi], w = want[c][k];
        ++a.compared;
        a.identical += got[c][gi] == want[c][k];
        gw += g * w;
        gg += g * g;
        ww += w * w;
      }
  }
  a.correlation = gg > 0 && ww > 0 ? gw / std::sqrt(gg * ww) : 0;
  return a;
}

// Sample-exact but for a few cycles an xrun of the loaded machine may spoil.
void ExpectSameSound(const Agreement& a, size_t expectedSamples) {
  EXPECT_GE(a.compared, expectedSamples * 9 / 10) << "the recording is cut short";
  // Blocks cut by an xrun hold unrelated samples, which no correlation
  // threshold tells from a fault; then the share of identical samples decides.
  if (a.relocked == 0) {
    EXPECT_GT(a.correlation, 0.999);
  }
  EXPECT_GE(static_cast<double>(a.identical), 0.95 * static_cast<double>(a.compared))
      << a.identical << " of " << a.compared << " samples identical";
  EXPECT_LE(a.relocked, 8) << "more xruns than a loaded machine explains";
}

class LiveGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BUNDLES();
    const std::string missing = PrivateGraph::MissingProgram();
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed (scripts/deps.sh installs it)";
    bus_ = std::make_unique<PrivateBus>();
    graph_ = std::make_unique<PrivateGraph>();
  }

  // qelvo live, running once this returns.
  std::unique_ptr<BackgroundTool> StartLive(std::vector<std::string> args) {
    std::vector<std::string> command = {kQelvo, "live", "--plugin", "AUQelvoBS7", "--quiet"};
    command.insert(command.end(), args.begin(), args.end());
    auto live = std::make_unique<BackgroundTool>(command);
    EXPECT_TRUE(live->WaitForOutput("running at", 60)) << live->Finish(10, true).err;
    return live;
  }

  // Records the monitor of test-sink into file; recording once this returns.
  std::unique_ptr<BackgroundTool> StartRecording(const std::string& file) {
    auto rec = std::make_unique<BackgroundTool>(std::vector<std::string>{
        "pw-record", "--target", "test-sink", "-P", "{ stream.capture.sink=true node.name=qelvo-test-rec }",
        "--format", "f32", "--rate", std::to_string(kRate), "--channels", "2", file});
    PrivateGraph::AwaitLink("test-sink:monitor_FR", "qelvo-test-rec:input_FR");
    return rec;
  }

  static void Play(const std::string& target, const std::string& file) {
    const ToolResult r = RunTool({"pw-play", "--target", target, file}, {}, "", 120);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  static ToolResult Stop(std::unique_ptr<BackgroundTool>& tool) {
    ToolResult r = tool->Finish(60, true);
    EXPECT_FALSE(r.timedOut);
    return r;
  }

  std::string Render(const std::vector<std::string>& args, const std::string& in, const std::string& out) {
    std::vector<std::string> command = {kQelvo, "render", "--plugin", "AUQelvoBS7"};
    command.insert(command.end(), args.begin(), args.end());
    command.insert(command.end(), {in, out});
    const ToolResult r = RunTool(command);
    EXPECT_EQ(r.status, 0) << r.err;
    return out;
  }

  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<PrivateGraph> graph_;
  ScratchDir dir_;
};

struct Route {
  const char* what;
  std::vector<std::string> liveArgs;
  std::string playInto;
};

TEST_F(LiveGraph, FixedParametersSoundAsTheOfflineRender) {
  graph_->AddNullSink("source-sink");
  const std::vector<std::string> unit = {"--preset", "1", "--param", "cutoff=700", "--param", "resonance=6"};
  const Planar input = NoiseThenSilence(1.0, 3);
  WriteAudio(dir_.File("in.wav"), input, kRate);
  const Planar want = ReadAudio(Render(unit, dir_.File("in.wav"), dir_.File("want.wav"))).channels;

  for (const Route& route : {Route{"a virtual sink to the default output", {}, kSink},
                             Route{"a source to a named sink", {"--capture", "source-sink", "--target", "test-sink"},
                                   "source-sink"}}) {
    SCOPED_TRACE(route.what);
    std::vector<std::string> args = unit;
    args.insert(args.end(), route.liveArgs.begin(), route.liveArgs.end());
    auto live = StartLive(args);
    const std::string recorded = dir_.File(std::string("rec-") + route.playInto + ".wav");
    auto rec = StartRecording(recorded);
    Play(route.playInto, dir_.File("in.wav"));
    Stop(rec);
    const ToolResult r = Stop(live);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stopped after"), std::string::npos) << r.out;

    const Planar got = ReadAudio(recorded).channels;
    const size_t start = FirstSound(got[0]);
    ASSERT_LT(start, got[0].size()) << "nothing came out";
    ExpectSameSound(Compare(got, start, want), want.size() * want[0].size());
  }
}

TEST_F(LiveGraph, APostedLevelActsAsTheOfflineRenderPredicts) {
  // Gain mode: the factor acts sample by sample, without memory, so each
  // recorded sample is either the unmodulated render's or the level's.
  const Planar input = NoiseThenSilence(2.0, 5);
  WriteAudio(dir_.File("in.wav"), input, kRate);
  const Planar before = ReadAudio(Render({"--preset", "0"}, dir_.File("in.wav"), dir_.File("before.wav"))).channels;
  WriteText(dir_.File("level.csv"), "time_s,symbol,level\n0,BS7V0,10\n");
  const Planar after =
      ReadAudio(Render({"--preset", "0", "--levels", dir_.File("level.csv")}, dir_.File("in.wav"), dir_.File("after.wav")))
          .channels;

  auto live = StartLive({"--preset", "0"});
  auto rec = StartRecording(dir_.File("rec.wav"));
  BackgroundTool play({"pw-play", "--target", kSink, dir_.File("in.wav")});
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const ToolResult post = RunTool({kQelvo, "post", "BS7V0", "10"});
  ASSERT_EQ(post.status, 0) << post.err;
  EXPECT_EQ(play.Finish(120).status, 0);
  Stop(rec);
  const ToolResult r = Stop(live);
  EXPECT_NE(r.out.find("1 level received"), std::string::npos) << r.out;

  const Planar got = ReadAudio(dir_.File("rec.wav")).channels;
  const size_t start = FirstSound(got[0]);
  ASSERT_LT(start, got[0].size()) << "nothing came out";
  // Sound at 1 and 0.3 of the input: before the level, then after it, with
  // at most a few spoiled cycles, and never back.
  size_t unmodulated = 0, modulated = 0, neither = 0, backAgain = 0;
  const size_t frames = static_cast<size_t>(2.0 * kRate);
  for (size_t i = 0; i < frames && start + i < got[0].size(); ++i) {
    const float g = got[0][start + i];
    if (g == before[0][i] && g != after[0][i]) {
      ++unmodulated;
      backAgain += modulated > 0;
    } else if (g == after[0][i]) {
      ++modulated;
    } else {
      ++neither;
    }
  }
  EXPECT_GT(unmodulated, frames / 10) << "the level acted before it was posted";
  EXPECT_GT(modulated, frames / 10) << "the level never acted";
  EXPECT_LT(neither, frames / 20);
  EXPECT_LT(backAgain, frames / 50) << "the level came and went";
}

TEST_F(LiveGraph, ARecordedSessionRendersAgainTheSame) {
  const Planar input = NoiseThenSilence(2.0, 7);
  WriteAudio(dir_.File("in.wav"), input, kRate);
  auto live = StartLive({"--preset", "1", "--record-levels", dir_.File("levels.csv"), "--record-input",
                         dir_.File("input.wav")});
  auto rec = StartRecording(dir_.File("rec.wav"));
  BackgroundTool play({"pw-play", "--target", kSink, dir_.File("in.wav")});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(RunTool({kQelvo, "post", "BS7V0", "20"}).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(RunTool({kQelvo, "post", "BS7V0", "50"}).status, 0);
  EXPECT_EQ(play.Finish(120).status, 0);
  Stop(rec);
  const ToolResult r = Stop(live);
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<LevelEvent> levels = ReadLevelCsv(dir_.File("levels.csv"));
  ASSERT_EQ(levels.size(), 2u) << ReadBytes(dir_.File("levels.csv"));
  EXPECT_EQ(levels[0].level, 20);
  EXPECT_EQ(levels[1].level, 50);
  EXPECT_LT(levels[0].time, levels[1].time);

  const Planar replay = ReadAudio(Render({"--preset", "1", "--levels", dir_.File("levels.csv")},
                                         dir_.File("input.wav"), dir_.File("replay.wav")))
                            .channels;
  const Planar plain = ReadAudio(Render({"--preset", "1"}, dir_.File("input.wav"), dir_.File("plain.wav"))).channels;
  const Planar got = ReadAudio(dir_.File("rec.wav")).channels;
  const size_t inReplay = FirstSound(replay[0]), inRecording = FirstSound(got[0]);
  ASSERT_LT(inReplay, replay[0].size());
  ASSERT_LT(inRecording, got[0].size());
  Planar heard(2);
  for (size_t c = 0; c < 2; ++c)
    heard[c].assign(replay[c].begin() + static_cast<long>(inReplay),
                    replay[c].begin() + static_cast<long>(std::min(replay[c].size(), inReplay + 2 * kRate)));
  ExpectSameSound(Compare(got, inRecording, heard), 2 * 2 * kRate);
  // Not trivially so: without the levels the same input sounds otherwise.
  Planar unmodulated(2);
  for (size_t c = 0; c < 2; ++c)
    unmodulated[c].assign(plain[c].begin() + static_cast<long>(inReplay),
                          plain[c].begin() + static_cast<long>(std::min(plain[c].size(), inReplay + 2 * kRate)));
  EXPECT_LT(Compare(got, inRecording, unmodulated).correlation, 0.99);
}

TEST_F(LiveGraph, AddsNoLatencyToTheGraph) {
  // One recording of the player's own output and of the sink's monitor: the
  // distance between them, with and without qelvo live in between.
  const Planar input = NoiseThenSilence(4.0, 9);
  WriteAudio(dir_.File("in.wav"), input, kRate);
  auto distance = [&](const std::string& target, const std::string& file) -> long {
    BackgroundTool rec({"pw-record", "-P", "{ node.autoconnect=false node.name=qelvo-test-both }", "--format", "f32",
                        "--rate", std::to_string(kRate), "--channels", "2", file});
    PrivateGraph::AwaitPort("qelvo-test-both:input_FR", true);
    BackgroundTool play({"pw-play", "-P", "{ node.name=qelvo-test-play }", "--target", target, dir_.File("in.wav")});
    PrivateGraph::AwaitPort("qelvo-test-play:output_FL", false);
    EXPECT_EQ(RunTool({"pw-link", "qelvo-test-play:output_FL", "qelvo-test-both:input_FL"}).status, 0);
    EXPECT_EQ(RunTool({"pw-link", "test-sink:monitor_FL", "qelvo-test-both:input_FR"}).status, 0);
    EXPECT_EQ(play.Finish(120).status, 0);
    rec.Finish(60, true);
    const Planar both = ReadAudio(file).channels;
    // A stretch of the player's output, found again in the monitor.
    const size_t at = FirstSound(both[0]) + kRate / 4;
    for (long d = -8192; d <= 8192; ++d) {
      bool same = at + 256 < both[0].size();
      for (size_t i = 0; same && i < 256; ++i) {
        const long j = static_cast<long>(at + i) + d;
        same = j >= 0 && static_cast<size_t>(j) < both[1].size() && both[1][static_cast<size_t>(j)] == both[0][at + i];
      }
      if (same) return d;
    }
    return -1000000;
  };
  const long direct = distance("test-sink", dir_.File("direct.wav"));
  ASSERT_NE(direct, -1000000) << "the player's sound never reached the sink";
  // Gain mode before any level: the unit passes the sound unchanged.
  auto live = StartLive({"--preset", "0"});
  const long through = distance(kSink, dir_.File("through.wav"));
  Stop(live);
  EXPECT_EQ(through, direct);
}

TEST_F(LiveGraph, ShowsAsASinkNamedAfterThePresetAndStopsCleanlyOnSigintAndSigterm) {
  struct Case {
    int signal;
    std::vector<std::string> args;
    const char* description;  // what the sound settings show
  };
  for (const Case& c : {Case{SIGINT, {"--preset", "1"}, "Qelvo AUQelvoBS7 (LCH Count-Filter)"},
                        Case{SIGTERM, {"--target", "test-sink"}, "Qelvo AUQelvoBS7 (LCH Count-Gain)"}}) {
    const int signal = c.signal;
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    auto live = StartLive(c.args);
    const std::string nodes = RunTool({"pw-cli", "ls", "Node"}).out;
    EXPECT_TRUE(PrivateGraph::Contains(nodes, "node.name = \"" + kSink + "\""));
    EXPECT_TRUE(PrivateGraph::Contains(nodes, std::string("node.description = \"") + c.description + "\"")) << nodes;
    live->Signal(signal);
    const ToolResult r = live->Finish(60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("qelvo live: stopped after"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0 levels received"), std::string::npos) << r.out;
    EXPECT_FALSE(PrivateGraph::Contains(RunTool({"pw-cli", "ls", "Node"}).out, "\"" + kSink + "\""))
        << "the sink outlived the program";
  }
}

TEST_F(LiveGraph, SetsTheUnitUpAgainWhenTheGraphChangesItsRate) {
  auto live = StartLive({"--preset", "1", "--record-input", dir_.File("input.wav")});
  EXPECT_NE(live->Out().find("running at 48000 Hz, 2 channels"), std::string::npos) << live->Out();
  ASSERT_EQ(RunTool({"pw-metadata", "-n", "settings", "0", "clock.force-rate", "44100"}).status, 0);
  EXPECT_TRUE(live->WaitForOutput("running at 44100 Hz, 2 channels", 60)) << live->Out();
  EXPECT_TRUE(live->WaitForOutput("the input recording stops here", 10));
  const ToolResult r = Stop(live);
  EXPECT_EQ(r.status, 0) << r.err;
  // What was recorded before the change keeps its rate.
  EXPECT_EQ(ReadAudio(dir_.File("input.wav")).rate, 48000);
}

TEST_F(LiveGraph, RefusesTargetsTheGraphDoesNotHave) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Case& c : {Case{{"--target", "no-such-sink"}, "--target: no node named 'no-such-sink'"},
                        Case{{"--capture", "Dummy-Driver"}, "--capture Dummy-Driver is not a source or a sink"},
                        Case{{"--capture", "no-such-source"}, "--capture: no node named 'no-such-source'"}}) {
    std::vector<std::string> command = {kQelvo, "live", "--plugin", "AUQelvoBS7", "--quiet"};
    command.insert(command.end(), c.args.begin(), c.args.end());
    const ToolResult r = RunTool(command, {}, "", 60);
    SCOPED_TRACE(c.message);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("test-sink"), std::string::npos) << "the choices are listed: " << r.err;
  }
}

TEST_F(LiveGraph, OscLevelsReachTheUnitThroughTheBridgeInTheSameProcess) {
  if (!Exists("/usr/bin/oscsend")) GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
  auto live = StartLive({"--preset", "1", "--osc", "0", "--record-levels", dir_.File("levels.csv")});
  const std::string& out = live->Out();
  const size_t at = out.find("127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string port = out.substr(at + 10, out.find(' ', at) - at - 10);
  BackgroundTool monitor({kQelvo, "monitor", "--count", "1", "--timeout", "60"});
  ASSERT_TRUE(monitor.WaitForOutput("listening for", 30));
  ASSERT_EQ(RunTool({"oscsend", "127.0.0.1", port, "/kest/level", "sf", "BS7V0", "12.5"}).status, 0);
  EXPECT_EQ(monitor.Finish(60).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const ToolResult r = Stop(live);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 level received"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 level posted"), std::string::npos) << "the bridge's own summary: " << r.out;
  EXPECT_NE(ReadBytes(dir_.File("levels.csv")).find(",BS7V0,12.5\n"), std::string::npos);
}

TEST_F(LiveGraph, TheBridgeInTheSameProcessFitsLevelsAsTheMapSays) {
  // A baseline from 10 to 20 puts 15 in the middle of 0..100 at once; a
  // spike is dropped.
  WriteText(dir_.File("m.map"), "/t/alpha 0 BS7V0 norm=window:60 range=0..100 spike=8\n");
  WriteText(dir_.File("c.cal"),
            "qelvo-calibration 1\n/t/alpha 0 BS7V0 values=21 seconds=20 mean=15 sd=3 median=15 mad=2.5 "
            "quantiles=10,10.5,11,11.5,12,12.5,13,13.5,14,14.5,15,15.5,16,16.5,17,17.5,18,18.5,19,19.5,20\n");
  auto live = StartLive({"--preset", "1", "--osc", "0", "--map", dir_.File("m.map"), "--calibration", dir_.File("c.cal")});
  const int port = osc::BoundPort(live->Out());
  ASSERT_NE(port, 0) << live->Out();
  BackgroundTool monitor({kQelvo, "monitor", "--count", "1", "--timeout", "60"});
  ASSERT_TRUE(monitor.WaitForOutput("listening for", 30));
  ASSERT_TRUE(osc::SendUdp(port, osc::Message("/t/alpha", "f", osc::F(15))));
  const ToolResult seen = monitor.Finish(60);
  EXPECT_EQ(seen.status, 0) << seen.err;
  const size_t at = seen.out.find("BS7V0     ");
  ASSERT_NE(at, std::string::npos) << seen.out;
  EXPECT_NEAR(std::atof(seen.out.c_str() + at + 10), 50, 1) << seen.out;
  EXPECT_NE(seen.out.find("raw 15  posted"), std::string::npos) << seen.out;
  ASSERT_TRUE(osc::SendUdp(port, osc::Message("/t/alpha", "f", osc::F(500))));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const ToolResult r = Stop(live);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("posts nothing"), std::string::npos) << "calibrated, no warmup: " << r.err;
  EXPECT_NE(r.out.find("qelvo live: BS7V0 (/t/alpha 0): 2 values, 1 posted, 1 dropped as spikes"), std::string::npos)
      << r.out;
}

TEST_F(LiveGraph, TheFilterChainExampleProcessesAsTheNativeUnit) {
  if (QELVO_INSTRUMENTED) GTEST_SKIP() << "pipewire cannot load a plug-in built with a sanitizer";
  const std::string lv2 = std::string(QELVO_LV2_DIR) + "/AUQelvoBS7.lv2";
  if (!Exists(lv2 + "/manifest.ttl")) GTEST_SKIP() << "the LV2 edition is not built";
  // Only this bundle on the LV2 path.
  std::filesystem::create_directory(dir_.File("lv2"));
  std::filesystem::create_directory_symlink(lv2, dir_.File("lv2/AUQelvoBS7.lv2"));
  BackgroundTool chain({"pipewire", "-c", std::string(QELVO_SOURCE_DIR) + "/examples/qelvo-filter-chain.conf"},
                       {{"LV2_PATH", dir_.File("lv2")}});
  PrivateGraph::AwaitPort("qelvo-filter-chain:playback_FR", true);
  PrivateGraph::AwaitLink("qelvo-filter-chain-output:output_FR", "test-sink:playback_FR");

  const Planar input = NoiseThenSilence(1.0, 11);
  WriteAudio(dir_.File("in.wav"), input, kRate);
  // The example's settings.
  const Planar want =
      ReadAudio(Render({"--preset", "1", "--param", "cutoff=800"}, dir_.File("in.wav"), dir_.File("want.wav"))).channels;
  auto rec = StartRecording(dir_.File("rec.wav"));
  Play("qelvo-filter-chain", dir_.File("in.wav"));
  Stop(rec);
  chain.Finish(30, true);

  const Planar got = ReadAudio(dir_.File("rec.wav")).channels;
  const size_t start = FirstSound(got[0]);
  ASSERT_LT(start, got[0].size()) << "nothing came out";
  ExpectSameSound(Compare(got, start, want), want.size() * want[0].size());
}

// Without a usable server qelvo live ends at once with a message; a server
// that takes the connection and never answers is given up on.
TEST(LiveWithoutAGraph, EndsWithAMessageInsteadOfWaiting) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const std::string silent = dir.File("silent");
  std::filesystem::create_directory(silent);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = silent + "/pipewire-0";
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);

  struct Case {
    const char* what;
    std::string runtimeDir;
    std::vector<std::string> extra;
    int status;
    std::string message;
  };
  for (const Case& c : {Case{"no server", dir.Path(), {}, 1, "no PipeWire server at " + dir.Path() + "/pipewire-0"},
                        Case{"a server that never answers", silent, {"--answer-timeout", "1"}, 1, "did not answer within 1 s"},
                        Case{"an unknown plug-in", dir.Path(), {}, 2, "unknown plug-in 'AUQelvoBS9'"}}) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> command = {kQelvo, "live", "--plugin",
                                        c.status == 2 ? "AUQelvoBS9" : "AUQelvoBS7", "--quiet"};
    command.insert(command.end(), c.extra.begin(), c.extra.end());
    const ToolResult r = RunTool(command, {{"XDG_RUNTIME_DIR", c.runtimeDir}, {"PIPEWIRE_REMOTE", ""}}, "", 60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  close(listener);
}

}  // namespace
