// qelvo live's threads at once: a render thread processing cycles without
// pause, the control thread pausing it to configure the unit for other
// rates and channel counts, a delivery thread handing in levels, and the
// control thread collecting their times and reading the counters. Every
// cycle renders cleanly; levels keep their order and never go back in time.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "support/ToolTestFiles.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LiveLevels.h"
#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/UnitSettings.h"

namespace {

TEST(LiveConcurrency, ReconfiguringLevelsAndReadingsWhileCyclesRun) {
  REQUIRE_BUNDLES();
  DetachFromBus();
  PluginInstance unit("AUQelvoBS7");
  unit.SetFormat(48000, 2);
  UnitSettings settings;
  settings.plugin = "AUQelvoBS7";
  settings.preset = "1";
  ApplyUnitSettings(unit, settings);
  LiveLevelLog log(CFNotificationCenterGetDistributedCenter());
  LiveProcessor processor(unit.Unit());
  processor.WatchLevelCount(&log.Count());
  processor.Configure(48000, 2);
  processor.Resume();

  std::atomic<bool> stop{false};
  std::atomic<long> unfinite{0};
  // What the graph's buffers carry; it follows a new format a moment later.
  std::atomic<uint32_t> graphChannels{2};
  std::thread render([&] {
    const Planar input = TestSignal(2, 256, 5);
    Planar out(2, std::vector<float>(256));
    const float* in[2] = {input[0].data(), input[1].data()};
    float* o[2] = {out[0].data(), out[1].data()};
    uint64_t position = 0;
    while (!stop.load()) {
      const uint32_t channels = graphChannels.load();
      processor.Process(in, o, channels, 256, LiveCycle{true, position, 256, 48000, 0});
      position += 256;
      for (uint32_t c = 0; c < channels; ++c)
        for (float x : out[c]) unfinite += !std::isfinite(x);
    }
  });
  std::thread delivery([&] {
    for (int i = 0; i < 400 && !stop.load(); ++i) {
      log.Receive(MakeLevelUserInfo("BS7V0", i % 60).get());
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });

  const struct {
    double rate;
    uint32_t channels;
  } formats[] = {{44100, 2}, {96000, 1}, {48000, 2}, {22050, 1}};
  for (int round = 0; round < 40; ++round) {
    processor.Pause();
    processor.Configure(formats[round % 4].rate, formats[round % 4].channels);
    processor.Resume();
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    graphChannels.store(formats[round % 4].channels);
    log.Collect(processor);
    (void)processor.Counters();
    (void)processor.TakeRecentLongestShare();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  delivery.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stop = true;
  render.join();
  processor.Pause();
  log.Collect(processor);

  EXPECT_EQ(unfinite.load(), 0);
  EXPECT_EQ(processor.Counters().renderFailures, 0u);
  EXPECT_GT(processor.Counters().cycles, 0u);
  const std::vector<LevelEvent> events = log.Events(processor.SessionSeconds());
  ASSERT_EQ(events.size(), 400u);
  for (size_t i = 1; i < events.size(); ++i) {
    EXPECT_EQ(events[i].level, static_cast<double>(i % 60));
    EXPECT_GE(events[i].time, events[i - 1].time) << i;
  }
}

}  // namespace
