// A session bus that accepts the connection and never answers: every bus
// command gives up with the reason within the connection bound, instead of
// waiting out the bus library's minute and a half.
#include <gtest/gtest.h>

#include <memory>

#include "support/StuckBus.h"
#include "support/ToolRunner.h"
#include "support/ToolTestFiles.h"

namespace {

TEST(EdgeBusConnect, BusCommandsGiveUpOnABusThatNeverAnswers) {
  ScratchDir dir;
  StuckBus stuck(dir.File("bus"));
  WriteText(dir.File("l.csv"), "time_s,symbol,level\n0,BS7V0,1\n");
  const std::string address = "unix:path=" + dir.File("bus");
  const BackgroundTool::Env env = {{"DBUS_SESSION_BUS_ADDRESS", address}};
  const std::vector<std::vector<std::string>> commands = {
      {kQelvo, "post", "BS7V0", "1"},
      {kQelvo, "monitor", "--count", "1"},
      {kQelvo, "replay", "--loop", dir.File("l.csv")},
      {kQelvo, "bridge", "--osc-port", "0"},
  };
  // All at once: each waits out the same bound.
  std::vector<std::unique_ptr<BackgroundTool>> running;
  for (const auto& args : commands) running.push_back(std::make_unique<BackgroundTool>(args, env));
  for (size_t i = 0; i < commands.size(); ++i) {
    SCOPED_TRACE(commands[i][1]);
    // A hang guard only: the bound is a few seconds.
    const ToolResult r = running[i]->Finish(60);
    EXPECT_FALSE(r.timedOut) << "still waiting for the bus after 60 s";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("qelvo: no session bus"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the session bus at " + address + " did not answer within"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("listening"), std::string::npos) << r.out;
  }
  EXPECT_GE(stuck.Accepted(), static_cast<int>(commands.size())) << "a command never reached the stuck bus";
}

}  // namespace
