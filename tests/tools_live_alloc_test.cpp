// qelvo live's processing callback never touches the heap once running:
// every operator new and, outside sanitizer builds, every malloc-family call
// of the render thread is counted across many cycles of a real deliverable
// opened through the component loader, with levels arriving, the input
// recorded, cycles longer than a slice, missing input and a paused processor.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "support/HeapCounter.h"
#include "support/ToolTestFiles.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/LiveLevels.h"
#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/LiveRecorder.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/UnitSettings.h"

namespace {

struct Scenario {
  const char* what;
  const char* preset;
  uint32_t frames;
  bool levels;
  bool record;
  bool missingInput;
};

struct Counts {
  long news = 0, mallocs = 0;
  uint64_t cycles = 0;
  bool sound = false;
};

Counts RunCycles(const Scenario& s, const ScratchDir& dir) {
  PluginInstance unit("AUQelvoBS7");
  unit.SetFormat(48000, 2);
  UnitSettings settings;
  settings.plugin = "AUQelvoBS7";
  settings.preset = s.preset;
  ApplyUnitSettings(unit, settings);
  LiveLevelLog levels(CFNotificationCenterGetDistributedCenter());
  LiveProcessor processor(unit.Unit());
  processor.WatchLevelCount(&levels.Count());
  processor.Configure(48000, 2);
  std::unique_ptr<LiveInputRecorder> recorder;
  if (s.record) {
    recorder = std::make_unique<LiveInputRecorder>(dir.File("in.wav"), 48000, 2);
    processor.SetInputTap(recorder.get());
  }
  processor.Resume();

  const Planar input = TestSignal(2, s.frames, 17);
  Planar output(2, std::vector<float>(s.frames));
  const float* in[2] = {input[0].data(), input[1].data()};
  const float* none[2] = {nullptr, nullptr};
  float* out[2] = {output[0].data(), output[1].data()};
  CFRef<CFDictionaryRef> level = MakeLevelUserInfo("BS7V0", 10);

  Counts counts;
  const int kWarmUp = 4, kCycles = 200;
  LiveCycle cycle;
  cycle.valid = true;
  cycle.duration = s.frames;
  cycle.rate = 48000;
  for (int i = 0; i < kWarmUp + kCycles; ++i) {
    if (s.levels && i % 7 == 0) levels.Receive(level.get());  // as the delivery thread does
    if (i % 16 == 0) levels.Collect(processor);
    const long news = gNews.load(), mallocs = gMallocs.load();
    gCounting = true;
    processor.Process(s.missingInput ? none : in, out, 2, s.frames, cycle);
    gCounting = false;
    if (i >= kWarmUp) {
      counts.news += gNews.load() - news;
      counts.mallocs += gMallocs.load() - mallocs;
    }
    cycle.position += s.frames;
    for (float x : output[0]) counts.sound = counts.sound || x != 0.0f;
  }
  processor.Pause();
  counts.cycles = processor.Counters().cycles;
  if (recorder) recorder->Finish();
  return counts;
}

TEST(LiveCallbackAllocations, NoneOnceRunning) {
  REQUIRE_BUNDLES();
  DetachFromBus();
  CountOnlyThisThread();
  ScratchDir dir;
  const Scenario scenarios[] = {
      {"filter mode, a 256-frame quantum", "1", 256, false, false, false},
      {"gain mode, a 64-frame quantum", "0", 64, false, false, false},
      {"levels arriving", "1", 256, true, false, false},
      {"input recorded", "1", 1024, false, true, false},
      {"a cycle longer than a slice", "1", kLiveMaxSliceFrames + 1000, true, true, false},
      {"no input buffer", "1", 256, false, true, true},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    const Counts c = RunCycles(s, dir);
    EXPECT_EQ(c.news, 0);
    EXPECT_EQ(c.mallocs, 0);
    EXPECT_EQ(c.cycles, 204u) << "every cycle was processed";
    EXPECT_EQ(c.sound, !s.missingInput);
  }
}

// The counter sees the thread it watches and only that one, or a zero above
// proves nothing.
TEST(LiveCallbackAllocations, TheCounterSeesTheWatchedThreadOnly) {
  CountOnlyThisThread();
  std::atomic<int> step{0};
  std::thread other([&] {
    while (step.load() == 0) std::this_thread::yield();
    delete new volatile int(1);
    void* volatile p = std::malloc(32);
    std::free(p);
    step = 2;
  });
  const long news = gNews.load(), mallocs = gMallocs.load();
  gCounting = true;
  step = 1;
  while (step.load() != 2) std::this_thread::yield();
  const long otherNews = gNews.load() - news, otherMallocs = gMallocs.load() - mallocs;
  delete new volatile int(3);
  void* volatile p = std::malloc(64);
  std::free(p);
  gCounting = false;
  other.join();
  EXPECT_EQ(otherNews, 0);
  EXPECT_EQ(otherMallocs, 0);
  EXPECT_EQ(gNews.load() - news, 1);
  EXPECT_GE(gMallocs.load() - mallocs, kCountsMalloc ? 1 : 0);
}

}  // namespace
