// Threads racing inside one unit, run under ThreadSanitizer in CI: parameter
// IDs added while the render thread reads the parameters, two control threads
// changing the preset name at once, and two threads rendering at once. Calls
// that collide are refused with kQelvoErr_UnitBusy; nothing may race.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "effect/ModulationState.h"
#include "platform/CFRef.h"
#include "support/ParameterEvents.h"
#include "support/TestEffect.h"

namespace {

// Property read through the component entry, as a host makes it.
OSStatus GetPropertyByEntry(AUBase& unit, AudioUnitPropertyID id, void* data, UInt32* size) {
  const intptr_t args[] = {reinterpret_cast<intptr_t>(size), reinterpret_cast<intptr_t>(data), 0,
                           kAudioUnitScope_Global, static_cast<intptr_t>(id)};  // last argument first
  std::vector<intptr_t> words(1 + std::size(args));
  const ComponentParameters header{0, static_cast<UInt8>(sizeof args), kAudioUnitGetPropertySelect, 0, {}};
  std::memcpy(words.data(), &header, 8);
  std::memcpy(words.data() + 1, args, sizeof args);
  return AUBase::ComponentEntryDispatch(reinterpret_cast<ComponentParameters*>(words.data()), &unit);
}

bool BusyOr(OSStatus status, OSStatus expected) { return status == kQelvoErr_UnitBusy || status == expected; }

TEST(EdgeParametersConcurrency, IdsAddedWhileTheRenderThreadReadsTheParameters) {
  testX.store(1);  // filter mode: the kernels read cutoff, resonance and gain every slice
  TestEffectPtr fx = OpenTestEffect(2, 2);
  TestSignal signal;
  signal.Attach(*fx);
  ASSERT_EQ(fx->DoInitialize(), noErr);

  constexpr int kRenders = 1500;
  constexpr AudioUnitParameterID kFirstSet = 100, kFirstRamp = 5000;
  std::atomic<bool> done{false};
  std::atomic<int> renderFailures{0}, nonFinite{0}, unexpected{0};
  std::atomic<AudioUnitParameterID> lastSet{0};

  std::thread render([&] {
    TestOutput out(2, 128);
    for (int i = 0; i < kRenders; ++i) {
      // Ramps for IDs the element lacks: added here, between renders.
      if (i % 10 == 0) {
        const AudioUnitParameterEvent ramp = RampEvent(kFirstRamp + i, 0, 64, 0.0f, 1.0f);
        if (!BusyOr(fx->ScheduleParameter(&ramp, 1), noErr)) ++unexpected;
      }
      out.Point(128);
      AudioUnitRenderActionFlags flags = 0;
      if (fx->DoRender(flags, SampleTime(128.0 * i), 0, 128, out.list()) != noErr) ++renderFailures;
      for (const auto& channel : out.samples)
        for (float v : channel)
          if (!std::isfinite(v)) ++nonFinite;
    }
    done = true;
  });

  std::thread control([&] {
    for (AudioUnitParameterID id = kFirstSet; !done.load(); ++id) {
      const OSStatus status = fx->SetParameter(id, kAudioUnitScope_Global, 0, static_cast<float>(id), 0);
      if (status == noErr) lastSet.store(id);
      if (!BusyOr(status, noErr)) ++unexpected;
      // The filter's own parameters change in place meanwhile.
      fx->SetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0, 300.0f + float(id % 3000), 0);
      std::this_thread::yield();
    }
  });

  // A third thread reads what the others add.
  std::thread reader([&] {
    while (!done.load()) {
      const AudioUnitParameterID id = lastSet.load();
      AudioUnitParameterValue value = 0;
      if (id != 0 && (fx->GetParameter(id, kAudioUnitScope_Global, 0, value) != noErr || value != float(id)))
        ++unexpected;
      std::vector<AudioUnitParameterID> list(4096);
      UInt32 size = static_cast<UInt32>(list.size() * sizeof(AudioUnitParameterID));
      const OSStatus status = GetPropertyByEntry(*fx, kAudioUnitProperty_ParameterList, list.data(), &size);
      if (status == noErr) {
        list.resize(size / sizeof(AudioUnitParameterID));
        if (!std::is_sorted(list.begin(), list.end()) || list.size() < 3) ++unexpected;
      } else if (status != kQelvoErr_UnitBusy) {
        ++unexpected;
      }
      std::this_thread::yield();
    }
  });

  render.join();
  control.join();
  reader.join();
  EXPECT_EQ(renderFailures.load(), 0);
  EXPECT_EQ(nonFinite.load(), 0);
  EXPECT_EQ(unexpected.load(), 0);
  // Every ID that was accepted is there, in order, exactly once.
  std::vector<AudioUnitParameterID> ids(fx->Globals()->GetNumberOfParameters());
  fx->Globals()->GetParameterList(ids.data());
  EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) == ids.end());
  EXPECT_GT(ids.size(), 3u);
  testX.store(0);
}

// Small IDs also live in slots of their own; a reader that finds one must
// find it whole, with the value it was added with, and once found it stays.
TEST(EdgeParametersConcurrency, SmallIdsAddedWhileAReaderLooksThemUp) {
  constexpr AudioUnitParameterID kIds = 40;  // inside and beyond the slots
  for (int round = 0; round < 50; ++round) {
    AUElement element(nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
      std::vector<bool> seen(kIds, false);
      while (!done.load()) {
        for (AudioUnitParameterID id = 0; id < kIds; ++id) {
          if (element.HasParameter(id)) {
            if (element.GetParameter(id) != static_cast<float>(id) + 0.5f) ++wrong;
            seen[id] = true;
          } else if (seen[id]) {
            ++wrong;  // gone again
          }
        }
      }
    });
    // Descending, so each new node links in front of the others.
    for (AudioUnitParameterID id = kIds; id-- > 0;) element.SetParameter(id, static_cast<float>(id) + 0.5f);
    done = true;
    reader.join();
    ASSERT_EQ(wrong.load(), 0) << "round " << round;
    EXPECT_EQ(element.GetNumberOfParameters(), kIds);
  }
}

TEST(EdgeParametersConcurrency, TwoControlThreadsChangingThePresetName) {
  TestEffectPtr fx = OpenTestEffect(2, 2);
  std::atomic<int> unexpected{0}, accepted{0};
  auto work = [&](const char* prefix) {
    for (int i = 0; i < 2000; ++i) {
      const std::string text = prefix + std::to_string(i);
      CFRef<CFStringRef> name =
          CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
      const AUPreset preset{-1, name.get()};
      const OSStatus set = fx->DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0,
                                                   &preset, sizeof preset);
      if (set == noErr) ++accepted;
      if (!BusyOr(set, noErr)) ++unexpected;
      AUPreset read{};
      const OSStatus got = fx->DispatchGetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &read);
      if (got == noErr) {
        CFRelease(read.presetName);  // the read handed out a reference of its own
      } else if (got != kQelvoErr_UnitBusy) {
        ++unexpected;
      }
    }
  };
  std::thread a(work, "left ");
  std::thread b(work, "right ");
  a.join();
  b.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(accepted.load(), 0);
  EXPECT_EQ(CFGetRetainCount(fx->GetCurrentPreset().presetName), 1) << "the unit holds exactly one reference";
}

TEST(EdgeParametersConcurrency, TwoThreadsRenderingOneUnit) {
  TestEffectPtr fx = OpenTestEffect(2, 2);
  TestSignal signal;
  signal.Attach(*fx);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  std::atomic<int> rendered{0}, refused{0}, unexpected{0};
  auto work = [&](double start) {
    TestOutput out(2, 256);
    for (int i = 0; i < 1000; ++i) {
      out.Point(256);
      AudioUnitRenderActionFlags flags = 0;
      const OSStatus status = fx->DoRender(flags, SampleTime(start + 256.0 * i), 0, 256, out.list());
      if (status == noErr) ++rendered;
      else if (status == kQelvoErr_UnitBusy) ++refused;
      else ++unexpected;
    }
  };
  std::thread a(work, 0.0);
  std::thread b(work, 1e9);
  a.join();
  b.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(rendered.load() + refused.load(), 2000);
  EXPECT_GT(rendered.load(), 0);
  EXPECT_EQ(fx->GetLastRenderError(), noErr) << "a refused render is not the unit's failure";
}

}  // namespace
