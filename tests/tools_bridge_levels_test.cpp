// The bridge's level shaping end to end on a private bus: OSC streams with
// known statistics in, levels and the bridge's notices out to a monitor,
// calibrations written by one run and used by the next.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/OscPackets.h"
#include "support/PrivateBusEnvironment.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/Calibration.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// A sender of the values a headset app sends: floats, or an integer for
// contact quality.
struct Sender {
  explicit Sender(const BackgroundTool& bridge) : port(osc::BoundPort(bridge.Out())) {}
  void Float(const std::string& address, float v) const {
    EXPECT_TRUE(osc::SendUdp(port, osc::Message(address, "f", osc::F(v)))) << address;
  }
  void Int(const std::string& address, int v) const {
    EXPECT_TRUE(osc::SendUdp(port, osc::Message(address, "i", osc::I(v)))) << address;
  }
  int port;
};

std::unique_ptr<BackgroundTool> StartBridge(const std::vector<std::string>& extra) {
  std::vector<std::string> args = {kQelvo, "bridge", "--osc-port", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto bridge = std::make_unique<BackgroundTool>(args);
  EXPECT_TRUE(bridge->WaitForOutput("posting levels", 10)) << bridge->Out();
  return bridge;
}

// The monitor's lines for one symbol.
std::vector<std::string> LinesOf(const std::string& out, const std::string& symbol) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.find("  " + symbol + " ") != std::string::npos) lines.push_back(line);
  return lines;
}

// The level a monitor line shows for a posted level.
double LevelOf(const std::string& line) {
  std::istringstream in(line);
  double time = 0, level = 0;
  std::string symbol;
  in >> time >> symbol >> level;
  return level;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.find(text) != std::string::npos;
  return n;
}

TEST(BridgeLevels, SpikesAreDroppedAndBadContactHoldsOnTheWayToTheBus) {
  ScratchDir dir;
  WriteText(dir.File("m.map"),
            "/t/alpha  0  BS3V0  norm=window:30 range=5..60 warmup=0 spike=8 hold-when=/t/contact<1\n"
            "/t/end    0  BS8V0\n");
  BackgroundTool monitor({kQelvo, "monitor", "--timeout", "120", "--plot", dir.File("seen.png")});
  ASSERT_TRUE(monitor.WaitForOutput("listening for", 10));
  auto bridge = StartBridge({"--map", dir.File("m.map"), "--verbose", "--timeout", "120"});
  const Sender send(*bridge);
  // A baseline with a slow wobble, a blink-like spike every 50 values from
  // the 150th on, and the headband off between values 220 and 279.
  for (int i = 0; i < 400; ++i) {
    if (i == 220) send.Int("/t/contact", 0);
    if (i == 280) send.Int("/t/contact", 1);
    const bool spike = i >= 150 && i % 50 == 0;
    send.Float("/t/alpha", spike ? 300.0f : static_cast<float>(10 + 0.5 * std::sin(i * 0.7)));
    Pause(10);
  }
  send.Float("/t/end", 1);
  ASSERT_TRUE(monitor.WaitForOutput("BS8V0", 60));
  const ToolResult seen = monitor.Finish(30, true);
  const ToolResult r = bridge->Finish(30, true);
  ASSERT_EQ(r.status, 0) << r.err;

  // Spikes at 150, 200, 300 and 350 are dropped; the one at 250 came while
  // contact was bad, so it is held with the rest of those 60 values.
  EXPECT_NE(r.out.find("BS3V0 (/t/alpha 0): 400 values, 336 posted, 4 dropped as spikes, 60 held"), std::string::npos)
      << r.out;
  // The guard keeps one value per slot of its window, which ones depends on
  // arrival times: its median is the baseline's (9.5 to 10.5), not exactly 10.
  const std::string dropped = "dropped: BS3V0 raw 300 from /t/alpha is a spike (median ";
  const size_t at = r.out.find(dropped);
  ASSERT_NE(at, std::string::npos) << r.out;
  const double median = std::strtod(r.out.c_str() + at + dropped.size(), nullptr);
  EXPECT_TRUE(median >= 9.5 && median <= 10.5) << r.out.substr(at, 120);
  EXPECT_NE(r.out.find("contact: /t/contact<1 is true"), std::string::npos);
  EXPECT_NE(r.out.find("contact: /t/contact<1 is false again"), std::string::npos);

  ASSERT_EQ(seen.status, 0) << seen.err;
  const std::vector<std::string> lines = LinesOf(seen.out, "BS3V0");
  EXPECT_EQ(Count(lines, "  posted"), 336u) << seen.out;
  EXPECT_EQ(Count(lines, "  dropped"), 4u);
  EXPECT_EQ(Count(lines, "  held"), 60u);
  for (const std::string& line : lines) {
    if (line.find("  posted") == std::string::npos) continue;
    const double level = LevelOf(line);
    EXPECT_TRUE(level >= 5 && level <= 60) << line;
  }
  EXPECT_EQ(ReadBytes(dir.File("seen.png")).substr(1, 3), "PNG");
}

TEST(BridgeLevels, ACalibrationRunGivesTheNextRunItsLevelsAtOnce) {
  ScratchDir dir;
  const std::string map = "/t/alpha 0 BS3V0 norm=window:60 range=0..100\n/t/end 0 BS8V0\n";
  WriteText(dir.File("m.map"), map);
  const std::string calibration = dir.File("baseline.cal");
  {
    auto bridge = StartBridge({"--map", dir.File("m.map"), "--calibrate", "3", "--save-calibration", calibration});
    const Sender send(*bridge);
    // 10.0, 10.1, ..., 20.0 in a shuffled order.
    for (int j = 0; j <= 100; ++j) {
      send.Float("/t/alpha", static_cast<float>(10 + (j * 37 % 101) / 10.0));
      Pause(5);
    }
    const ToolResult r = bridge->Finish(60);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("BS3V0 posts nothing until 10 s of values have arrived"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no values during the calibration for BS8V0 (/t/end 0); not in " + calibration), std::string::npos);
    EXPECT_NE(r.out.find("calibration of 1 rule written to " + calibration), std::string::npos) << r.out;
  }
  const Calibration c = ReadCalibration(calibration);
  ASSERT_EQ(c.entries.size(), 1u);
  EXPECT_EQ(c.entries[0].values, 101);
  EXPECT_NEAR(c.entries[0].quantiles.front(), 10, 0.3);
  EXPECT_NEAR(c.entries[0].median, 15, 0.5);
  EXPECT_NEAR(c.entries[0].quantiles.back(), 20, 0.3);

  BackgroundTool monitor({kQelvo, "monitor", "--timeout", "120"});
  ASSERT_TRUE(monitor.WaitForOutput("listening for", 10));
  auto bridge = StartBridge({"--map", dir.File("m.map"), "--calibration", calibration, "--timeout", "120"});
  const Sender send(*bridge);
  for (float v : {15.0f, 12.75f, 17.25f}) send.Float("/t/alpha", v);
  send.Float("/t/end", 1);
  ASSERT_TRUE(monitor.WaitForOutput("BS8V0", 60));
  const ToolResult seen = monitor.Finish(30, true);
  const ToolResult r = bridge->Finish(30, true);
  EXPECT_EQ(r.err.find("posts nothing"), std::string::npos) << "a calibrated rule needs no warmup: " << r.err;
  // The baseline's 5th and 95th percentiles, 10.5 and 19.5, span 0..100.
  const std::vector<std::string> lines = LinesOf(seen.out, "BS3V0");
  ASSERT_EQ(lines.size(), 3u) << seen.out;
  EXPECT_NEAR(LevelOf(lines[0]), 50, 3) << lines[0];
  EXPECT_NEAR(LevelOf(lines[1]), 25, 3) << lines[1];
  EXPECT_NEAR(LevelOf(lines[2]), 75, 3) << lines[2];
}

TEST(BridgeLevels, AnInterruptedCalibrationWritesNothing) {
  ScratchDir dir;
  WriteText(dir.File("m.map"), "/t/alpha 0 BS3V0 z=30 range=0..10\n");
  auto bridge = StartBridge({"--map", dir.File("m.map"), "--calibrate", "60", "--save-calibration", dir.File("c.cal")});
  const ToolResult r = bridge->Finish(30, true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the calibration was stopped after"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("of 60 s; " + dir.File("c.cal") + " is not written"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir.File("c.cal")));
}

TEST(BridgeLevels, BadInputIsRefusedWithWhereAndWhy) {
  ScratchDir dir;
  WriteText(dir.File("m.map"), "/t/alpha 0 BS3V0\n");
  WriteText(dir.File("bad.map"), "# a window of no time\n/t/alpha 0 BS3V0 norm=window:0 range=0..1\n");
  WriteText(dir.File("bad.cal"), "/t/alpha 0 BS3V0 values=1\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"bridge", "--osc-port", "0", "--map", dir.File("bad.map")}, 1,
       dir.File("bad.map") + ":2: norm= wants a number of seconds above 0 to 86400, got '0'"},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--calibration", dir.File("bad.cal")}, 1,
       dir.File("bad.cal") + ":1: expected the first line 'qelvo-calibration 1'"},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--calibration", dir.File("none.cal")}, 1,
       "cannot read " + dir.File("none.cal")},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--save-calibration", dir.File("c.cal")}, 2,
       "--save-calibration needs --calibrate SECONDS"},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--calibrate", "5"}, 2,
       "--calibrate needs --save-calibration FILE"},
      {{"bridge", "--osc-port", "0", "--calibrate", "5", "--save-calibration", dir.File("c.cal")}, 2,
       "--calibrate needs a --map whose rules to calibrate"},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--calibrate", "0"}, 2, "--calibrate"},
      {{"bridge", "--osc-port", "0", "--map", dir.File("m.map"), "--calibrate", "5", "--timeout", "5"}, 2, "excludes"},
      {{"monitor", "--timeout", "1", "--plot", dir.File("no/such/dir/p.png")}, 1, "cannot write"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {kQelvo};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolResult r = RunTool(args, {}, "", 30);
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("listening"), std::string::npos) << "refused before it listened: " << r.out;
  }
  EXPECT_FALSE(Exists(dir.File("c.cal")));
}

}  // namespace
