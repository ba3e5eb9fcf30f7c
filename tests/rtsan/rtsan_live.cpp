// qelvo live's processing callback under the real-time sanitizer: a
// deliverable of the main build, opened through its component loader, is
// driven through LiveProcessor from a function the sanitizer treats as
// real-time, with levels arriving from the notification centre, the input
// recorded, cycles longer than a slice, missing input and reconfiguration
// between cycles. Exits 0 when every cycle rendered; the sanitizer aborts the
// process on any allocation, lock or blocking call inside a cycle.
//
// `rtsan_live --canary` allocates inside the real-time function on purpose
// and must be killed by the sanitizer.
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "RealtimeCanary.h"
#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "platform/Notifications.h"
#include "tools/qelvo/LiveProcessor.h"
#include "tools/qelvo/LiveRecorder.h"

namespace {

void Cycle(LiveProcessor& processor, const float* const* in, float* const* out, uint32_t frames,
           const LiveCycle& cycle) [[clang::nonblocking]] {
  processor.Process(in, out, 2, frames, cycle);
}

// A level as the analyser posts it; it reaches the unit's listener on the
// centre's delivery thread.
void PostLevel(double level) {
  CFMutableDictionaryRef info =
      CFDictionaryCreateMutable(nullptr, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberDoubleType, &level);
  CFDictionarySetValue(info, CFSTR("Kest Symbol"), CFSTR("BS7V0"));
  CFDictionarySetValue(info, CFSTR("New Level"), number);
  CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(),
                                       CFSTR("Kest Level Changed Notification"), nullptr, info, true);
  CFRelease(number);
  CFRelease(info);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--canary") == 0) {
    std::printf("canary: allocating inside a real-time function\n");
    return rtsan_canary::Canary() == 1 ? 0 : 1;
  }
  // Levels stay in this process.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  unsetenv("XDG_RUNTIME_DIR");

  AudioUnit unit = nullptr;
  if (QelvoOpenComponent("AUQelvoBS7", &unit) != noErr) {
    std::fprintf(stderr, "cannot open AUQelvoBS7: %s\n", QelvoComponentLoaderLastError().c_str());
    return 1;
  }
  AUPreset preset{1, nullptr};
  AudioUnitSetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &preset, sizeof preset);

  char dir[] = "/tmp/qelvo-rtsan-live-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string file = std::string(dir) + "/input.wav";
  int failures = 0;
  {
    std::atomic<uint64_t> levels{0};
    LiveProcessor processor(unit);
    processor.WatchLevelCount(&levels);
    processor.Configure(48000, 2);
    LiveInputRecorder recorder(file, 48000, 2);
    processor.SetInputTap(&recorder);
    processor.Resume();

    const uint32_t kMax = kLiveMaxSliceFrames + 1000;
    std::vector<float> in0(kMax), in1(kMax), out0(kMax), out1(kMax);
    for (uint32_t i = 0; i < kMax; ++i) {
      in0[i] = static_cast<float>((i * 7919u) % 2000) / 2000.0f - 0.5f;
      in1[i] = -in0[i];
    }
    const float* in[2] = {in0.data(), in1.data()};
    const float* none[2] = {nullptr, nullptr};
    float* out[2] = {out0.data(), out1.data()};
    std::vector<LevelSighting> sightings;
    LiveCycle cycle{true, 0, 0, 48000, 0};
    const int kCycles = 3000;
    for (int i = 0; i < kCycles; ++i) {
      // Control side, between cycles.
      if (i % 10 == 0) {
        PostLevel(static_cast<double>(i % 50));
        levels.fetch_add(1);
      }
      if (i % 100 == 0) processor.TakeLevelSightings(sightings);
      if (i == kCycles / 2) {
        processor.Pause();
        processor.SetInputTap(nullptr);
        processor.Configure(44100, 2);
        processor.Resume();
      }
      const uint32_t frames = i % 97 == 0 ? kMax : (i % 3 == 0 ? 64 : 256);
      cycle.duration = frames;
      Cycle(processor, i % 11 == 0 ? none : in, out, frames, cycle);
      cycle.position += frames;
    }
    processor.Pause();
    failures = static_cast<int>(processor.Counters().renderFailures);
    recorder.Finish();
    std::printf("%llu cycles, %d failed, %zu level sightings, %llu frames recorded\n",
                static_cast<unsigned long long>(processor.Counters().cycles), failures, sightings.size(),
                static_cast<unsigned long long>(recorder.FramesWritten()));
    if (sightings.empty() || recorder.FramesWritten() == 0) failures = 1;
  }
  unlink(file.c_str());
  rmdir(dir);
  CloseComponent(unit);
  return failures == 0 ? 0 : 1;
}
