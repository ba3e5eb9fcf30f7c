// The pieces of qelvo live without an audio server: the processor against
// an offline render of the same unit, its xrun count, the session time it
// gives levels, the recording format, the input recorder, and how targets
// are chosen among the graph's nodes.
#include <gtest/gtest.h>

#include <cmath>

#include "support/ToolTestFiles.h"
#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LiveLevels.h"
#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/LiveRecorder.h"
#include "tools/qelvo/LiveStatus.h"
#include "tools/qelvo/LiveTargets.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/ToolError.h"
#include "tools/qelvo/UnitSettings.h"

namespace {

std::unique_ptr<PluginInstance> OpenBS7(const char* preset, std::vector<std::string> params = {}) {
  auto unit = std::make_unique<PluginInstance>("AUQelvoBS7");
  unit->SetFormat(48000, 2);
  UnitSettings settings;
  settings.plugin = "AUQelvoBS7";
  settings.preset = preset;
  settings.params = std::move(params);
  ApplyUnitSettings(*unit, settings);
  return unit;
}

class LiveParts : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BUNDLES();
    DetachFromBus();
  }
};

// Cycles of any length, sliced inside when longer than a slice, sound as one
// offline render of the whole stream.
TEST_F(LiveParts, CyclesOfAnyLengthSoundAsOneOfflineRender) {
  const size_t total = 3 * kLiveMaxSliceFrames + 777;
  const Planar input = TestSignal(2, total, 3);
  auto reference = OpenBS7("1", {"cutoff=500", "resonance=9"});
  reference->SetMaximumFramesPerSlice(static_cast<UInt32>(total));
  reference->Initialize();
  Planar want(2, std::vector<float>(total));
  const float* in[2] = {input[0].data(), input[1].data()};
  float* w[2] = {want[0].data(), want[1].data()};
  reference->Render(in, w, static_cast<UInt32>(total), 0);
  reference.reset();

  for (uint32_t cycleFrames : {64u, 1000u, kLiveMaxSliceFrames, kLiveMaxSliceFrames + 1, 2 * kLiveMaxSliceFrames + 5}) {
    SCOPED_TRACE(cycleFrames);
    auto unit = OpenBS7("1", {"cutoff=500", "resonance=9"});
    LiveProcessor processor(unit->Unit());
    processor.Configure(48000, 2);
    processor.Resume();
    Planar got(2, std::vector<float>(total));
    for (size_t at = 0; at < total; at += cycleFrames) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(cycleFrames, total - at));
      const float* ci[2] = {input[0].data() + at, input[1].data() + at};
      float* co[2] = {got[0].data() + at, got[1].data() + at};
      processor.Process(ci, co, 2, n, LiveCycle{});
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(processor.Counters().frames, total);
    EXPECT_EQ(processor.Counters().renderFailures, 0u);
  }
}

TEST_F(LiveParts, SilenceWhilePausedUnconfiguredOrOnAnotherChannelCount) {
  auto unit = OpenBS7("0");
  LiveProcessor processor(unit->Unit());
  const Planar input = TestSignal(2, 128, 4);
  Planar out(2, std::vector<float>(128, 1.0f));
  const float* in[2] = {input[0].data(), input[1].data()};
  float* o[2] = {out[0].data(), out[1].data()};
  auto silent = [&] { return std::all_of(out[0].begin(), out[0].end(), [](float x) { return x == 0.0f; }); };

  processor.Resume();  // not configured: stays paused
  processor.Process(in, o, 2, 128, LiveCycle{});
  EXPECT_TRUE(silent());
  processor.Configure(48000, 2);
  processor.Process(in, o, 2, 128, LiveCycle{});
  EXPECT_TRUE(silent()) << "configured but not resumed";
  processor.Resume();
  processor.Process(in, o, 1, 128, LiveCycle{});
  EXPECT_TRUE(silent()) << "a mono cycle for a stereo unit";
  processor.Process(in, o, 2, 128, LiveCycle{});
  EXPECT_FALSE(silent());
  processor.Pause();
  processor.Process(in, o, 2, 128, LiveCycle{});
  EXPECT_TRUE(silent());
  EXPECT_EQ(processor.Counters().cycles, 1u);
}

TEST_F(LiveParts, CountsSkippedCyclesLateFinishesAndMissingBuffersAsXruns) {
  struct Step {
    uint64_t position;
    uint64_t deadline;  // 1: long past
    bool resyncFirst;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    uint64_t xruns;
  };
  const Case cases[] = {
      {"one cycle after the other", {{0, 0, false}, {256, 0, false}, {512, 0, false}}, 0},
      {"a cycle skipped", {{0, 0, false}, {256, 0, false}, {768, 0, false}, {1024, 0, false}}, 1},
      {"a jump after the stream came back", {{0, 0, false}, {5000, 0, true}, {5256, 0, false}}, 0},
      {"the clock starting over", {{5000, 0, false}, {0, 0, false}, {256, 0, false}}, 0},
      {"finished after the deadline", {{0, 1, false}, {256, 0, false}, {512, 1, false}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto unit = OpenBS7("1");
    LiveProcessor processor(unit->Unit());
    processor.Configure(48000, 2);
    processor.Resume();
    Planar out(2, std::vector<float>(256));
    float* o[2] = {out[0].data(), out[1].data()};
    const float* none[2] = {nullptr, nullptr};
    for (const Step& s : c.steps) {
      if (s.resyncFirst) processor.Resync();
      LiveCycle cycle{true, s.position, 256, 48000, s.deadline};
      processor.Process(none, o, 2, 256, cycle);
    }
    EXPECT_EQ(processor.Counters().xruns, c.xruns);
    processor.CountMissingBuffer();
    EXPECT_EQ(processor.Counters().xruns, c.xruns + 1);
  }
}

// Each level is placed at the start of the first cycle after it arrived, in
// session seconds that read back as that very frame.
TEST_F(LiveParts, LevelsTakeTheTimeOfTheFirstCycleThatHeardThem) {
  auto unit = OpenBS7("1");
  LiveLevelLog log(CFNotificationCenterGetDistributedCenter());
  LiveProcessor processor(unit->Unit());
  processor.WatchLevelCount(&log.Count());
  processor.Configure(44100, 2);
  processor.Resume();
  Planar out(2, std::vector<float>(441));
  float* o[2] = {out[0].data(), out[1].data()};
  const float* none[2] = {nullptr, nullptr};
  auto cycles = [&](int n) {
    for (int i = 0; i < n; ++i) processor.Process(none, o, 2, 441, LiveCycle{});
  };
  auto receive = [&](const char* symbol, double level) { log.Receive(MakeLevelUserInfo(symbol, level).get()); };

  cycles(3);
  receive("BS7V0", 10);
  cycles(1);  // heard at frame 1323
  receive("BS7V0", 20);
  receive("BS3F1", -1.5);
  receive("bad,symbol", 1);  // counted, but no recording can hold it
  log.Collect(processor);    // the cycle that hears them has not run yet
  cycles(2);                 // heard at frame 1764
  receive("BS7V0", 30);      // never heard: after the end
  log.Collect(processor);

  EXPECT_EQ(log.Count().load(), 5u);
  const double end = processor.SessionSeconds();
  EXPECT_EQ(LevelFrame(end, 44100), 441 * 6);
  const std::vector<LevelEvent> events = ParseLevelCsv(LevelCsvText(log.Events(end), {"a session"}), "recording");
  struct Want {
    const char* symbol;
    double level;
    long long frame;
  };
  const Want want[] = {{"BS7V0", 10, 1323}, {"BS7V0", 20, 1764}, {"BS3F1", -1.5, 1764}, {"BS7V0", 30, 2646}};
  ASSERT_EQ(events.size(), std::size(want));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].symbol, want[i].symbol) << i;
    EXPECT_EQ(events[i].level, want[i].level) << i;
    EXPECT_EQ(LevelFrame(events[i].time, 44100), want[i].frame) << i;
  }
}

// Session time carries on across a rate change; times written for any frame
// read back as that frame.
TEST_F(LiveParts, SessionTimeSurvivesRateChangesAndReadsBackExactly) {
  auto unit = OpenBS7("1");
  LiveProcessor processor(unit->Unit());
  Planar out(2, std::vector<float>(480));
  float* o[2] = {out[0].data(), out[1].data()};
  const float* none[2] = {nullptr, nullptr};
  processor.Configure(48000, 2);
  processor.Resume();
  for (int i = 0; i < 100; ++i) processor.Process(none, o, 2, 480, LiveCycle{});  // 1 s
  processor.Pause();
  processor.Configure(44100, 1);
  processor.Resume();
  for (int i = 0; i < 50; ++i) processor.Process(none, o, 1, 441, LiveCycle{});  // 0.5 s
  EXPECT_DOUBLE_EQ(processor.SessionSeconds(), 1.5);

  for (double rate : {44100.0, 48000.0, 96000.0})
    for (long long frame = 0; frame < 20'000'000; frame += 999'983) {
      LevelEvent e{static_cast<double>(frame) / rate, "BS1V0", 1, 0};
      const std::vector<LevelEvent> back = ParseLevelCsv(LevelCsvText({e}, {}), "t");
      ASSERT_EQ(LevelFrame(back[0].time, rate), frame) << rate;
    }
}

TEST_F(LiveParts, TheInputRecorderKeepsWhatItTookAndDropsWholeCyclesWhenFull) {
  ScratchDir dir;
  const Planar input = TestSignal(2, 3000, 8);
  {
    LiveInputRecorder recorder(dir.File("in.wav"), 1000, 2, 1.0);  // room for 4096 frames
    for (size_t at = 0; at < 3000; at += 500) {
      const float* c[2] = {input[0].data() + at, input[1].data() + at};
      recorder.Take(c, 2, 500);
    }
    const float* silent[2] = {nullptr, nullptr};
    recorder.Take(silent, 2, 100);
    const float* big[2] = {input[0].data(), input[1].data()};
    recorder.Take(big, 2, 4097);  // more than the ring holds: dropped whole
    recorder.Finish();
    EXPECT_EQ(recorder.FramesWritten(), 3100u);
    EXPECT_EQ(recorder.FramesDropped(), 4097u);
  }
  const AudioFileContents file = ReadAudio(dir.File("in.wav"));
  EXPECT_EQ(file.rate, 1000);
  ASSERT_EQ(file.channels.size(), 2u);
  ASSERT_EQ(file.channels[0].size(), 3100u);
  for (size_t c = 0; c < 2; ++c) {
    EXPECT_TRUE(std::equal(input[c].begin(), input[c].end(), file.channels[c].begin()));
    EXPECT_TRUE(std::all_of(file.channels[c].begin() + 3000, file.channels[c].end(), [](float x) { return x == 0; }));
  }
  // Not finished: nothing is left behind.
  {
    LiveInputRecorder abandoned(dir.File("gone.wav"), 1000, 1);
  }
  EXPECT_FALSE(Exists(dir.File("gone.wav")));
}

TEST(LiveTargets, ChoosesByNameSerialOrDescriptionAmongNodesThatSuit) {
  const std::vector<GraphNode> nodes = {
      {30, 101, "alsa_output.speakers", "Speakers", "Audio/Sink", 2},
      {31, 102, "alsa_input.mic", "Microphone", "Audio/Source", 1},
      {32, 103, "Dummy-Driver", "", "", 0},
      {33, 104, "player", "Music", "Stream/Output/Audio", 2},
      {34, 105, "Speakers", "Other speakers", "Audio/Sink", 2},
  };
  struct Case {
    std::string text;
    TargetRole role;
    uint32_t id;  // 0: refused
    const char* message;
  };
  const Case cases[] = {
      {"alsa_output.speakers", TargetRole::kOutput, 30, ""},
      {"101", TargetRole::kOutput, 30, ""},
      {"Speakers", TargetRole::kOutput, 34, ""},  // a name before a description
      {"Other speakers", TargetRole::kOutput, 34, ""},
      {"alsa_output.speakers", TargetRole::kCapture, 30, ""},  // its monitor
      {"Microphone", TargetRole::kCapture, 31, ""},
      {"alsa_input.mic", TargetRole::kOutput, 0, "--target alsa_input.mic is not a sink but Audio/Source;"},
      {"player", TargetRole::kCapture, 0, "--capture player is not a source or a sink but Stream/Output/Audio;"},
      {"Dummy-Driver", TargetRole::kOutput, 0, "--target Dummy-Driver is not a sink;"},
      {"104", TargetRole::kOutput, 0, "--target: no node named '104'"},
      {"nothing", TargetRole::kCapture, 0, "--capture: no node named 'nothing'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.id != 0) {
      EXPECT_EQ(ChooseTarget(nodes, c.text, c.role).id, c.id);
      continue;
    }
    try {
      ChooseTarget(nodes, c.text, c.role);
      ADD_FAILURE() << "accepted";
    } catch (const ToolError& e) {
      const std::string m = e.what();
      EXPECT_EQ(e.ExitCode(), kExitUsage);
      EXPECT_EQ(m.rfind(c.message, 0), 0u) << m;
      EXPECT_NE(m.find("\n  alsa_output.speakers  (serial 101, \"Speakers\", Audio/Sink)"), std::string::npos) << m;
      EXPECT_EQ(m.find("\n  player"), std::string::npos) << "a stream is no choice: " << m;
      EXPECT_EQ(m.find("alsa_input.mic  ") != std::string::npos, c.role == TargetRole::kCapture) << m;
    }
  }
}

TEST(LiveStatusText, ShowsTheLevelOnlyOnceOneCameAndTheCallbackShareOnlyWithCycles) {
  LiveStatus s;
  s.symbol = "BS7V0";
  s.report = ModulationReport{12.5, 2.18, 1.25f, 1};
  EXPECT_EQ(LiveStatusLine(s), "BS7V0 - | gain x1.25  cutoff x2.18 | filter | waiting for the graph | xruns 0");
  s.levels = 3;
  s.sampleRate = 48000;
  s.quantum = 256;
  s.xruns = 2;
  s.averageShare = 0.012;
  s.peakShare = 0.25;
  s.report->mFilterMode = 0;
  EXPECT_EQ(LiveStatusLine(s),
            "BS7V0 12.5 | gain x1.25  cutoff x2.18 | gain | 256 @ 48000 Hz | xruns 2 | callback 1.2% (peak 25%)");

  LiveSummary summary{61.25, 1, 0, 0, 0, 0, 57400, 0.023, 0.0041};
  EXPECT_EQ(LiveSummaryLine(summary), "qelvo live: stopped after 61.2 s of audio: 1 level received, 0 xruns, "
                                      "longest callback 57 us (at most 2.3% of a cycle, 0.4% on average)");
  summary.skippedCycles = 2;
  summary.missingBuffers = 1;
  EXPECT_NE(LiveSummaryLine(summary).find(" 3 xruns (2 skipped cycles, 1 without buffers), "), std::string::npos);
}

}  // namespace
