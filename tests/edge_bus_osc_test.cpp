// The OSC bridge's core: what liblo's server makes of datagrams (messages,
// type tags, bundles, patterns, garbage) and what reaches the sink; receiving
// on the bound address from the caller's loop or from a thread of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "support/Eventually.h"
#include "support/OscPackets.h"
#include "tools/qelvo/OscBridge.h"
#include "tools/qelvo/ToolError.h"

namespace {

using namespace osc;

struct Posted {
  std::string symbol;
  double level;
  bool operator==(const Posted&) const = default;
};

// Collects what the bridge posts; answers "dropped" when told to.
struct Sink {
  std::mutex mutex;
  std::vector<Posted> levels;
  bool drop = false;
  OscBridge::Sink Get() {
    return [this](const std::string& symbol, double level) {
      std::lock_guard<std::mutex> lock(mutex);
      if (drop) return false;
      levels.push_back({symbol, level});
      return true;
    };
  }
  std::vector<Posted> Levels() {
    std::lock_guard<std::mutex> lock(mutex);
    return levels;
  }
};

std::string Level(const char* symbol, float level) { return Message("/kest/level", "sf", S(symbol) + F(level)); }

// A bundle holding `inner`, nested depth bundles deep.
std::string Nested(int depth, const std::string& inner) {
  std::string packet = inner;
  for (int i = 0; i < depth; ++i) packet = Bundle({packet});
  return packet;
}

struct Counts {
  long long messages, posted, rejected, unknown, malformed;
};

void ExpectCounts(const OscBridgeCounts& got, const Counts& want) {
  EXPECT_EQ(got.messages, want.messages);
  EXPECT_EQ(got.posted, want.posted);
  EXPECT_EQ(got.rejected, want.rejected);
  EXPECT_EQ(got.unknown, want.unknown);
  EXPECT_EQ(got.malformed, want.malformed);
}

TEST(EdgeBusOsc, DatagramsBecomeLevelsAsTheBridgeDocuments) {
  struct Case {
    const char* name;
    std::string datagram;
    std::vector<Posted> levels;
    Counts counts;
  };
  const std::string ab = Message("/kest/level", "sd", S("BS1V0") + D(-0.25));
  const std::vector<Case> cases = {
      {"float", Level("BS7V0", 12.5f), {{"BS7V0", 12.5}}, {1, 1, 0, 0, 0}},
      {"double", ab, {{"BS1V0", -0.25}}, {1, 1, 0, 0, 0}},
      {"integer level, not converted", Message("/kest/level", "si", S("BS7V0") + I(3)), {}, {1, 0, 1, 0, 0}},
      {"not finite", Message("/kest/level", "sd", S("BS7V0") + D(INFINITY)), {}, {1, 0, 1, 0, 0}},
      {"unknown address", Message("/kest/levels", "sf", S("BS7V0") + F(1)), {}, {1, 0, 0, 1, 0}},
      {"pattern", Message("/kest/*", "sf", S("BS7V0") + F(2)), {{"BS7V0", 2}}, {1, 1, 0, 0, 0}},
      {"bundle", Bundle({Level("BS7V0", 1), ab}), {{"BS7V0", 1}, {"BS1V0", -0.25}}, {2, 2, 0, 0, 0}},
      {"time tag in the future, at once", Bundle({Level("BS7V0", 1)}, uint64_t(0xFFFF'FFF0) << 32),
       {{"BS7V0", 1}}, {1, 1, 0, 0, 0}},
      {"eight deep", Nested(8, Level("BS7V0", 8)), {{"BS7V0", 8}}, {1, 1, 0, 0, 0}},
      {"nine deep", Nested(9, Level("BS7V0", 9)), {}, {0, 0, 0, 0, 1}},
      {"pattern nine deep", Nested(9, Message("/kest/*", "sf", S("BS7V0") + F(9))), {}, {0, 0, 0, 0, 1}},
      {"too deep beside a good one", Bundle({Nested(8, Level("BS7V0", 9)), Level("BS7V0", 1)}), {{"BS7V0", 1}},
       {1, 1, 0, 0, 1}},
      {"not OSC", std::string("xyz\0", 4), {}, {1, 0, 1, 0, 0}},
      {"message cut short", Level("BS7V0", 1).substr(0, 20), {}, {1, 0, 1, 0, 0}},
      {"bundle element longer than the bundle", S("#bundle") + Big64(1) + Big32(400) + Level("BS7V0", 1), {},
       {0, 0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sink sink;
    OscBridge bridge(BridgeMap{}, "127.0.0.1", 0, sink.Get());
    bridge.Dispatch(c.datagram.data(), c.datagram.size());
    EXPECT_EQ(sink.Levels(), c.levels);
    ExpectCounts(bridge.Counts(), c.counts);
  }
}

TEST(EdgeBusOsc, MapRulesAreDispatchedByAddressAndTakeAMessageWhole) {
  const BridgeMap map = ParseBridgeMap(
      "/eeg/alpha  0  BS3V0  scale=2\n"
      "/eeg/alpha  1  BS3V1\n"
      "/eeg/beta   *  BS4V0\n",
      "test.map");
  Sink sink;
  std::vector<std::string> log;
  OscBridge bridge(map, "127.0.0.1", 0, sink.Get(), [&](const std::string& line) { log.push_back(line); });
  for (const std::string& packet : {Message("/eeg/alpha", "ff", F(1) + F(3)),  // both rules
                                    Message("/eeg/alpha", "f", F(1)),         // rule 2 finds no argument
                                    Message("/eeg/beta", "fd", F(1) + D(2)),  // the mean
                                    Message("/kest/level", "sf", S("BS7V0") + F(1)),
                                    Message("/eeg/*", "s", S("x"))})  // refused by both addresses, counted once
    bridge.Dispatch(packet.data(), packet.size());
  EXPECT_EQ(sink.Levels(), (std::vector<Posted>{{"BS3V0", 2}, {"BS3V1", 3}, {"BS4V0", 1.5}}));
  ExpectCounts(bridge.Counts(), {5, 3, 2, 1, 0});
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[2], "rejected: /eeg/alpha: expected at least 2 arguments, got arguments ,f");
  EXPECT_EQ(log[4], "ignored: /kest/level (no rule for this address)");
}

TEST(EdgeBusOsc, ReceivesOnItsAddressFromTheCallersLoopOrItsOwnThread) {
  Sink sink;
  OscBridge polled(BridgeMap{}, "127.0.0.1", 0, sink.Get());
  const std::string& bound = polled.BoundAddress();
  ASSERT_EQ(bound.rfind("127.0.0.1:", 0), 0u) << bound;
  const int port = std::stoi(bound.substr(10));
  ASSERT_TRUE(SendUdp(port, Level("BS7V0", 4)));
  ASSERT_TRUE(Eventually([&] {
    polled.Poll(50);
    return polled.Counts().posted == 1;
  }));

  // Its own thread; the sink drops what it cannot post, and says so.
  OscBridge threaded(BridgeMap{}, "127.0.0.1", 0, sink.Get());
  threaded.Start();
  sink.drop = true;
  const int threadedPort = std::stoi(threaded.BoundAddress().substr(10));
  ASSERT_TRUE(SendUdp(threadedPort, Bundle({Level("BS7V0", 5), Level("BS7V0", 6)})));
  EXPECT_TRUE(Eventually([&] { return threaded.Counts().dropped == 2; }));
  threaded.Stop();
  EXPECT_EQ(threaded.Counts().posted, 0);
  EXPECT_EQ(sink.Levels(), (std::vector<Posted>{{"BS7V0", 4}}));
}

TEST(EdgeBusOsc, RefusesAnAddressItCannotListenOn) {
  Sink sink;
  try {
    OscBridge bridge(BridgeMap{}, "localhost", 0, sink.Get());
    FAIL() << "a host name was taken";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.ExitCode(), kExitUsage);
    EXPECT_NE(std::string(e.what()).find("numeric IP address"), std::string::npos) << e.what();
  }
  OscBridge first(BridgeMap{}, "127.0.0.1", 0, sink.Get());
  const int port = std::stoi(first.BoundAddress().substr(10));
  try {
    OscBridge second(BridgeMap{}, "127.0.0.1", port, sink.Get());
    FAIL() << "a port in use was taken";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.ExitCode(), kExitFailure);
    EXPECT_NE(std::string(e.what()).find("cannot listen on udp 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.what();
  }
}

}  // namespace
