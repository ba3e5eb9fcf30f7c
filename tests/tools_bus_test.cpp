// The bus commands between processes on a private dbus-daemon: what post,
// replay and the OSC bridge send is what monitor and a live render receive.
#include <gtest/gtest.h>

#include <thread>

#include "support/OscPackets.h"
#include "support/PrivateBus.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

class BusCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus_ = new PrivateBus; }
  static void TearDownTestSuite() {
    delete bus_;
    bus_ = nullptr;
  }
  static PrivateBus* bus_;
};
PrivateBus* BusCommands::bus_ = nullptr;

// A monitor that is observing by the time this returns.
std::unique_ptr<BackgroundTool> StartMonitor(int count) {
  auto monitor = std::make_unique<BackgroundTool>(
      std::vector<std::string>{kQelvo, "monitor", "--count", std::to_string(count), "--timeout", "30"});
  EXPECT_TRUE(monitor->WaitForOutput("listening for", 10));
  return monitor;
}

TEST_F(BusCommands, MonitorDecodesWhatPostAndReplaySend) {
  auto monitor = StartMonitor(3);
  ToolResult post = RunTool({kQelvo, "post", "BS7V0", "10"});
  ASSERT_EQ(post.status, 0) << post.err;
  EXPECT_NE(post.out.find("posted BS7V0 = 10"), std::string::npos);

  ScratchDir dir;
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,peakLF,-2.5\n0.05,BS1F4,1e-3\n");
  ToolResult replay = RunTool({kQelvo, "replay", "--speed", "2", dir.File("l.csv")});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_NE(replay.out.find("replayed 2 levels"), std::string::npos);

  const ToolResult seen = monitor->Finish(30);
  ASSERT_EQ(seen.status, 0) << seen.err;
  const size_t a = seen.out.find("BS7V0     10");
  const size_t b = seen.out.find("peakLF    -2.5");
  const size_t c = seen.out.find("BS1F4     0.001");
  EXPECT_NE(a, std::string::npos) << seen.out;
  EXPECT_NE(b, std::string::npos) << seen.out;
  EXPECT_NE(c, std::string::npos) << seen.out;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
}

TEST_F(BusCommands, ReplayLoopsUntilStopped) {
  ScratchDir dir;
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,BS2V0,1\n0.1,BS2V0,2\n");
  auto monitor = StartMonitor(5);
  BackgroundTool replay({kQelvo, "replay", "--loop", "--speed", "2", dir.File("l.csv")});
  const ToolResult seen = monitor->Finish(30);
  ASSERT_EQ(seen.status, 0) << seen.err;
  // 1, 2, 1, 2, 1: the recording starts over after its last level.
  size_t at = 0;
  for (const char* level : {"BS2V0     1\n", "BS2V0     2\n", "BS2V0     1\n", "BS2V0     2\n", "BS2V0     1\n"}) {
    at = seen.out.find(level, at);
    ASSERT_NE(at, std::string::npos) << seen.out;
    ++at;
  }
  const ToolResult stopped = replay.Finish(10, true);
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  EXPECT_NE(stopped.out.find("replayed"), std::string::npos);
}

TEST_F(BusCommands, ALiveRenderFollowsALevelPostedByAnotherProcess) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  const int rate = 8000;
  const Planar input = TestSignal(2, rate * 6, 21);
  WriteAudio(dir.File("in.wav"), input, rate);
  BackgroundTool render({kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0", "--live", "--block", "256",
                         dir.File("in.wav"), dir.File("out.wav")});
  ASSERT_TRUE(render.WaitForOutput("following levels", 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_EQ(RunTool({kQelvo, "post", "BS7V0", "10"}).status, 0);
  const ToolResult r = render.Finish(30);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 level heard"), std::string::npos) << r.out;

  // Unchanged at first, gain 0.3 from some slice on, to the end.
  const Planar out = ReadAudio(dir.File("out.wav")).channels;
  for (size_t c = 0; c < 2; ++c) {
    size_t i = 0;
    while (i < out[c].size() && out[c][i] == input[c][i]) ++i;
    // Posted 0.8 s into the render; a loaded machine may delay either side.
    EXPECT_GT(i, static_cast<size_t>(rate / 4)) << "the level came before it was posted";
    EXPECT_LT(i, static_cast<size_t>(rate * 11 / 2)) << "the level was never heard";
    EXPECT_EQ(i % 256, 0u) << "levels land between slices";
    for (; i < out[c].size(); ++i) ASSERT_EQ(out[c][i], (input[c][i] * 1.0f) * 0.3f) << i;
  }
}

TEST_F(BusCommands, TheBridgeRepostsOscFromOscsend) {
  const std::string oscsend = "/usr/bin/oscsend";
  if (!Exists(oscsend)) GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
  ScratchDir dir;
  WriteText(dir.File("openbci.map"), "/openbci/band-power/1  2  BS3V1  scale=2\n");
  auto monitor = StartMonitor(2);
  BackgroundTool plain({kQelvo, "bridge", "--osc-port", "0", "--timeout", "8"});
  BackgroundTool mapped({kQelvo, "bridge", "--osc-port", "0", "--map", dir.File("openbci.map"), "--timeout", "8"});
  ASSERT_TRUE(plain.WaitForOutput("posting levels", 10));
  ASSERT_TRUE(mapped.WaitForOutput("posting levels", 10));
  const std::string plainPort = std::to_string(osc::BoundPort(plain.Out()));
  const std::string mappedPort = std::to_string(osc::BoundPort(mapped.Out()));
  ASSERT_NE(plainPort, "0");
  ASSERT_NE(mappedPort, "0");

  // Refused ones first: they must not reach the monitor.
  for (const std::vector<std::string>& send : std::vector<std::vector<std::string>>{
           {"/kest/level", "sf", "BS7V0", "nan"},
           {"/kest/level", "si", "BS7V0", "3"},
           {"/kest/level", "s", "BS7V0"},
           {"/kest/level", "sf", "BS7V0", "12.5"}}) {
    std::vector<std::string> args = {oscsend, "127.0.0.1", plainPort};
    args.insert(args.end(), send.begin(), send.end());
    ASSERT_EQ(RunTool(args).status, 0);
  }
  // An OpenBCI band-power message with more floats than the map needs.
  ASSERT_EQ(RunTool({oscsend, "127.0.0.1", mappedPort, "/openbci/band-power/1", "fffff", "1", "2", "3.5", "4", "5"}).status, 0);

  const ToolResult seen = monitor->Finish(30);
  ASSERT_EQ(seen.status, 0) << seen.err;
  EXPECT_NE(seen.out.find("BS7V0     12.5"), std::string::npos) << seen.out;
  EXPECT_NE(seen.out.find("BS3V1     7"), std::string::npos) << seen.out;
  EXPECT_EQ(seen.out.find("nan"), std::string::npos) << seen.out;

  const ToolResult p = plain.Finish(20, true);
  EXPECT_EQ(p.status, 0);
  EXPECT_NE(p.out.find("4 messages, 1 level posted, 3 rejected, 0 ignored"), std::string::npos) << p.out;
  const ToolResult m = mapped.Finish(20, true);
  EXPECT_NE(m.out.find("1 message, 1 level posted, 0 rejected"), std::string::npos) << m.out;
}

}  // namespace
