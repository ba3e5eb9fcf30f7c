// Levels that would blow up the output, through every road a level takes:
// a levels file given to `qelvo render`, a post on the bus, and an OSC double
// through the bridge. A level whose scaled value does not fit a 32-bit float
// changes nothing; a huge negative one that fits gives a gain factor of -2.0.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "effect/KestNotificationObserver.h"
#include "effect/ModulationState.h"
#include "support/PrivateBusEnvironment.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

// ---- files: render --levels ---------------------------------------------------

TEST(EdgeLevelsFile, LevelsBeyondTheFloatRangeNeitherBlowUpNorInvert) {
  REQUIRE_BUNDLES();
  ScratchDir dir;
  constexpr int kRate = 8000;
  constexpr size_t kBlock = 400;  // 0.05 s: each level below opens its own slice
  const Planar input = TestSignal(1, 3 * kBlock, 5);
  WriteAudio(dir.File("in.wav"), input, kRate);
  // Scaled by 0.3: -3.0 (gain -0.3), -3e307 (not a float: ignored), -3e38
  // (a float: gain held at -2.0).
  WriteText(dir.File("levels.csv"), "time_s,symbol,level\n0,BS7V0,-10\n0.05,BS7V0,-1e308\n0.1,BS7V0,-1e39\n");
  const ToolResult r = RunTool({kQelvo, "render", "--plugin", "AUQelvoBS7", "--preset", "0", "--levels",
                                dir.File("levels.csv"), "--block", std::to_string(kBlock), dir.File("in.wav"),
                                dir.File("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<float> out = ReadAudio(dir.File("out.wav")).channels.at(0);
  ASSERT_EQ(out.size(), input[0].size());
  const float gains[] = {-0.3f, -0.3f, -2.0f};
  for (size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i], (input[0][i] * 1.0f) * gains[i / kBlock]) << "frame " << i;
}

// ---- bus: a post, and an OSC double through the bridge ---------------------------

// Counts level notifications; registered after the listener, so once it has
// seen one, the listener has too.
std::atomic<int> sDelivered{0};
void CountDelivery(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sDelivered; }

// The port a bridge started with --osc-port 0 reports.
std::string PortOf(const BackgroundTool& bridge) {
  const std::string& out = bridge.Out();
  const size_t at = out.find("127.0.0.1:");
  if (at == std::string::npos) return "";
  return out.substr(at + 10, out.find(' ', at) - at - 10);
}

// /kest/level with a symbol and a 64-bit level, as OSC lays them out.
std::string OscDoubleLevel(const std::string& symbol, double level) {
  auto padded = [](std::string s) {
    s.push_back('\0');
    while (s.size() % 4 != 0) s.push_back('\0');
    return s;
  };
  std::string packet = padded("/kest/level") + padded(",sd") + padded(symbol);
  const uint64_t bits = std::bit_cast<uint64_t>(level);
  for (int shift = 56; shift >= 0; shift -= 8) packet.push_back(static_cast<char>(bits >> shift));
  return packet;
}

bool SendUdp(const std::string& port, const std::string& packet) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const ssize_t sent =
      sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  close(fd);
  return sent == static_cast<ssize_t>(packet.size());
}

enum class Road { Post, OscDouble };

struct BusCase {
  Road road;
  double posted;
  bool moves;          // false: both factors and the reported level stay
  float gain;          // when it moves
  double cutoff;
};

class EdgeLevelsBus : public ::testing::TestWithParam<BusCase> {
 protected:
  void SetUp() override {
    kPresetDefaultIndexX.store(0);  // band 7 "LCH Count-Gain": BS7V0, scale 0.3
    gainX.store(1.25f);
    cutoffX.store(3.5);
    levelX.store(4.0);
    AddKestNotificationObserverX();
    CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
    CFNotificationCenterAddObserver(center, &sDelivered, CountDelivery, CFSTR("Kest Level Changed Notification"),
                                    nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    // Another process's post reaches us only once the bus has our observations.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QelvoNotificationCenterIsConnected(center) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  void TearDown() override {
    CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
    QelvoNotificationCenterRemoveCallback(center, CountDelivery);
    QelvoNotificationCenterRemoveCallback(center, myCallback);
    gainX.store(1.0f);
    cutoffX.store(1.0);
    levelX.store(0.0);
  }

  static bool WaitForDelivery(int before) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sDelivered.load() <= before) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
};

std::string Exact(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

TEST_P(EdgeLevelsBus, AHugeLevelReachesTheListenerAndIsHeldOrIgnored) {
  const BusCase c = GetParam();
  const int before = sDelivered.load();
  if (c.road == Road::Post) {
    const ToolResult post = RunTool({kQelvo, "post", "BS7V0", Exact(c.posted)});
    ASSERT_EQ(post.status, 0) << post.err;
  } else {
    BackgroundTool bridge({kQelvo, "bridge", "--osc-port", "0", "--timeout", "30"});
    ASSERT_TRUE(bridge.WaitForOutput("posting levels", 10)) << bridge.Out();
    const std::string port = PortOf(bridge);
    ASSERT_FALSE(port.empty()) << bridge.Out();
    ASSERT_TRUE(SendUdp(port, OscDoubleLevel("BS7V0", c.posted)));
    ASSERT_TRUE(WaitForDelivery(before)) << "the bridge did not post the level";
    bridge.Finish(10, true);
  }
  ASSERT_TRUE(WaitForDelivery(before));
  if (c.moves) {
    EXPECT_EQ(gainX.load(), c.gain);
    EXPECT_EQ(cutoffX.load(), c.cutoff);
    EXPECT_EQ(levelX.load(), c.posted);
  } else {
    EXPECT_EQ(gainX.load(), 1.25f);
    EXPECT_EQ(cutoffX.load(), 3.5);
    EXPECT_EQ(levelX.load(), 4.0) << "a level that moved nothing is reported as applied";
  }
}

const double kHeldCutoff = static_cast<double>(static_cast<float>(-1e39 * 0.3)) / 6.0;

INSTANTIATE_TEST_SUITE_P(
    Roads, EdgeLevelsBus,
    ::testing::Values(BusCase{Road::Post, -1e308, false, 0, 0}, BusCase{Road::Post, -1e39, true, -2.0f, kHeldCutoff},
                      BusCase{Road::OscDouble, -1e308, false, 0, 0},
                      BusCase{Road::OscDouble, -1e39, true, -2.0f, kHeldCutoff}),
    [](const ::testing::TestParamInfo<BusCase>& info) {
      return std::string(info.param.road == Road::Post ? "Post" : "OscDouble") + (info.param.moves ? "Fits" : "TooLarge");
    });

}  // namespace
