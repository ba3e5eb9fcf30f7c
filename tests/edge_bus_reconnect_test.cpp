// The session bus goes away and comes back at the same address while the bus
// commands run: the bridge and a looping replay keep running, count what they
// drop and post again once reconnected; the monitor says when the bus is lost
// and when it is back.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/OscPackets.h"
#include "support/PrivateBus.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

int PortOf(const BackgroundTool& bridge) {
  const std::string& out = bridge.Out();
  const size_t at = out.find("127.0.0.1:");
  return at == std::string::npos ? -1 : std::stoi(out.substr(at + 10));
}

std::string Level(const char* symbol, float level) { return osc::Message("/kest/level", "sf", osc::S(symbol) + osc::F(level)); }

// Sends the datagram every 200 ms until text shows in tool's output.
bool SendUntil(int port, const std::string& datagram, BackgroundTool& tool, const std::string& text) {
  for (int i = 0; i < 150; ++i) {
    osc::SendUdp(port, datagram);
    if (tool.WaitForOutput(text, 0.2)) return true;
  }
  return false;
}

// Whether text shows in tool's stdout after offset, waiting up to seconds.
bool ShowsAfter(BackgroundTool& tool, size_t offset, const std::string& text, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (tool.Out().find(text, offset) == std::string::npos) {
    if (std::chrono::steady_clock::now() > end) return false;
    tool.WaitForOutput("\x01", 0.1);  // reads on
  }
  return true;
}

TEST(EdgeBusReconnect, BridgeAndReplayKeepRunningThroughABusRestartAndMonitorSaysSo) {
  PrivateBus bus;
  ScratchDir dir;
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,BS2V0,1\n0.1,BS2V0,2\n");
  BackgroundTool monitor({kQelvo, "monitor", "--timeout", "240"});
  ASSERT_TRUE(monitor.WaitForOutput("listening for", 20));
  BackgroundTool bridge({kQelvo, "bridge", "--osc-port", "0"});
  ASSERT_TRUE(bridge.WaitForOutput("posting levels", 20));
  const int port = PortOf(bridge);
  ASSERT_GT(port, 0) << bridge.Out();
  BackgroundTool replay({kQelvo, "replay", "--loop", dir.File("l.csv")});
  ASSERT_TRUE(SendUntil(port, Level("BS7V0", 1.5f), monitor, "BS7V0     1.5"));
  ASSERT_TRUE(monitor.WaitForOutput("BS2V0     2", 20));

  bus.Stop();
  ASSERT_TRUE(monitor.WaitForOutput("qelvo monitor: lost the session bus (", 20)) << monitor.Out();
  ASSERT_TRUE(SendUntil(port, Level("BS7V0", 2.5f), bridge, "qelvo bridge: cannot post levels ("));
  EXPECT_TRUE(bridge.WaitForOutput("dropping them until the session bus is back", 1));
  ASSERT_TRUE(replay.WaitForOutput("qelvo replay: cannot post levels (", 20));

  bus.Start();
  ASSERT_TRUE(monitor.WaitForOutput("qelvo monitor: the session bus is back; listening again", 30));
  const size_t backAt = monitor.Out().size();
  ASSERT_TRUE(SendUntil(port, Level("BS7V0", 3.5f), monitor, "BS7V0     3.5"));
  EXPECT_TRUE(bridge.WaitForOutput("qelvo bridge: the session bus is back;", 10));
  ASSERT_TRUE(replay.WaitForOutput("qelvo replay: the session bus is back;", 30));
  EXPECT_TRUE(ShowsAfter(monitor, backAt, "BS2V0     1", 20)) << "the replay's levels do not arrive again";

  const ToolResult b = bridge.Finish(20, true);
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_NE(b.out.find("dropped (no session bus)"), std::string::npos) << b.out;
  const ToolResult r = replay.Finish(20, true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("dropped while the session bus was away"), std::string::npos) << r.out;
  const ToolResult m = monitor.Finish(20, true);
  EXPECT_EQ(m.status, 0) << m.err;
}

}  // namespace
