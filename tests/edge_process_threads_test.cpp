// A host that breaks the thread rules: a second render of a unit while one
// runs, control calls from a second thread while another is inside, and
// reconfiguring during a render. Each such call is refused with
// kQelvoErr_UnitBusy and changes nothing; the thread already inside goes on,
// and may call in again. Every case is set up deterministically: the second
// call is made from inside the first (a render observer, a property
// listener) and waited for there.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/AUFastDispatch.h"
#include "support/ParameterEvents.h"
#include "support/SavedStateSupport.h"
#include "support/TestEffect.h"

namespace {

OSStatus OnAnotherThread(const std::function<OSStatus()>& call) {
  OSStatus result = 1;
  std::thread other([&] { result = call(); });
  other.join();
  return result;
}

// A selector as the component entry receives it, with `count` arguments of
// value 0 (scope and element 0 for reset).
OSStatus CallSelector(AUBase& unit, SInt16 what, size_t count = 0) {
  std::vector<intptr_t> words(1 + count, 0);
  const ComponentParameters header{0, static_cast<UInt8>(8 * count), what, 0, {}};
  std::memcpy(words.data(), &header, 8);
  return AUBase::ComponentEntryDispatch(reinterpret_cast<ComponentParameters*>(words.data()), &unit);
}

struct Probe {
  std::string name;
  std::function<OSStatus(TestEffect&)> call;
};

// Runs every probe on a second thread while the first thread is inside the
// unit (from `hook`), and returns what each answered.
class InsideCall {
 public:
  explicit InsideCall(std::vector<Probe> probes) : mProbes(std::move(probes)) {}
  void RunProbes(TestEffect& fx) {
    if (mRan) return;  // once: the probes may call in again themselves
    mRan = true;
    for (const Probe& p : mProbes) mResults.push_back(OnAnotherThread([&] { return p.call(fx); }));
  }
  void Expect(OSStatus status) const {
    ASSERT_EQ(mResults.size(), mProbes.size()) << "the probes never ran";
    for (size_t i = 0; i < mProbes.size(); ++i) EXPECT_EQ(mResults[i], status) << mProbes[i].name;
  }

 private:
  std::vector<Probe> mProbes;
  std::vector<OSStatus> mResults;
  bool mRan = false;
};

struct RenderHook {
  TestEffect* fx;
  InsideCall* inside;
  const AudioUnitParameterEvent* ramp;
  OSStatus nested = 1;
  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32, UInt32,
                         AudioBufferList*) {
    auto* self = static_cast<RenderHook*>(refCon);
    if ((*flags & kAudioUnitRenderAction_PreRender) == 0) return noErr;
    self->inside->RunProbes(*self->fx);
    // The rendering thread itself may schedule from its observer.
    self->nested = self->fx->ScheduleParameter(self->ramp, 1);
    return noErr;
  }
};

OSStatus RenderOnce(TestEffect& fx, Float64 time) {
  TestOutput out(2, 64);
  AudioUnitRenderActionFlags flags = 0;
  return fx.DoRender(flags, SampleTime(time), 0, 64, out.list());
}

class EdgeThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    signal.Attach(*fx);
    ASSERT_EQ(fx->DoInitialize(), noErr);
  }
  TestEffectPtr fx = OpenTestEffect(2, 2);
  TestSignal signal;
};

TEST_F(EdgeThreads, DuringARenderAnotherThreadCannotRenderScheduleOrReconfigure) {
  const AudioUnitParameterEvent ramp = RampEvent(kParam_CutoffFrequency, 0, 32, 500.0f, 600.0f);
  InsideCall inside({
      {"DoRender", [](TestEffect& u) { return RenderOnce(u, 1e6); }},
      {"fast-path render",
       [](TestEffect& u) {
         TestOutput out(2, 64);
         AudioUnitRenderActionFlags flags = 0;
         const AudioTimeStamp time = SampleTime(2e6);
         return AudioUnitBaseRender(&u, &flags, &time, 0, 64, &out.list());
       }},
      {"ScheduleParameter", [&](TestEffect& u) { return u.ScheduleParameter(&ramp, 1); }},
      {"initialize", [](TestEffect& u) { return u.DoInitialize(); }},
      {"uninitialize selector", [](TestEffect& u) { return CallSelector(u, kAudioUnitUninitializeSelect); }},
  });
  RenderHook hook{fx.get(), &inside, &ramp};
  ASSERT_EQ(fx->SetRenderNotification(&RenderHook::Notify, &hook), noErr);

  ASSERT_EQ(RenderOnce(*fx, 0), noErr);
  inside.Expect(kQelvoErr_UnitBusy);
  EXPECT_EQ(hook.nested, noErr) << "the rendering thread could not schedule from its observer";
  // Nothing of the refused calls stuck: still initialized, no events kept
  // (the render used up its own observer's), no render error recorded, and
  // the unit renders on.
  EXPECT_TRUE(fx->IsInitialized());
  EXPECT_TRUE(fx->GetParamEventList().empty());
  EXPECT_EQ(fx->GetLastRenderError(), noErr);
  EXPECT_EQ(RenderOnce(*fx, 64), noErr);
}

// A property listener runs on the thread that made the change, inside the
// unit's control side.
struct ListenerHook {
  TestEffect* fx;
  InsideCall* inside;
  OSStatus nested = 1;
  static void Changed(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    auto* self = static_cast<ListenerHook*>(refCon);
    self->inside->RunProbes(*self->fx);
    // The thread inside may call in again.
    UInt32 bypass = 9;
    self->nested = self->fx->DispatchGetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass);
  }
};

TEST_F(EdgeThreads, WhileOneControlThreadIsInsideASecondIsRefused) {
  saved_state_test::InstallTestComponentInfo();
  const AUPreset user{-1, CFSTR("second thread")};
  const AudioUnitParameterEvent newRamp = RampEvent(40, 0, 32, 0.0f, 1.0f);
  InsideCall inside({
      {"set property (user preset)",
       [&](TestEffect& u) {
         return u.DispatchSetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &user,
                                      sizeof user);
       }},
      {"get property (preset name)",
       [](TestEffect& u) {
         AUPreset preset{};
         return u.DispatchGetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &preset);
       }},
      {"get property info",
       [](TestEffect& u) {
         UInt32 size = 0;
         Boolean writable = false;
         return u.DispatchGetPropertyInfo(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, size,
                                          writable);
       }},
      {"remove property value",
       [](TestEffect& u) {
         return u.DispatchRemovePropertyValue(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0);
       }},
      {"initialize", [](TestEffect& u) { return u.DoInitialize(); }},
      {"reset selector", [](TestEffect& u) { return CallSelector(u, kAudioUnitResetSelect, 2); }},
      {"add listener", [](TestEffect& u) { return u.AddPropertyListener(1, nullptr, nullptr); }},
      {"new parameter ID", [](TestEffect& u) { return u.SetParameter(30, kAudioUnitScope_Global, 0, 1.0f, 0); }},
      {"new parameter ID by a ramp", [&](TestEffect& u) { return u.ScheduleParameter(&newRamp, 1); }},
  });
  ListenerHook hook{fx.get(), &inside};
  ASSERT_EQ(fx->AddPropertyListener(kAudioUnitProperty_BypassEffect, &ListenerHook::Changed, &hook), noErr);

  const UInt32 bypass = 1;
  ASSERT_EQ(fx->DispatchSetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass,
                                    sizeof bypass),
            noErr);
  inside.Expect(kQelvoErr_UnitBusy);
  EXPECT_EQ(hook.nested, noErr) << "the thread inside could not call in again";
  EXPECT_EQ(saved_state_test::TextOf(fx->GetCurrentPreset().presetName), "Untitled");
  EXPECT_EQ(fx->Globals()->GetNumberOfParameters(), 3u);
  EXPECT_TRUE(fx->GetParamEventList().empty());
}

TEST_F(EdgeThreads, ParameterValuesStayOpenToEveryThread) {
  const UInt32 bypass = 1;
  InsideCall inside({
      {"set existing parameter",
       [](TestEffect& u) { return u.SetParameter(kParam_Gain, kAudioUnitScope_Global, 0, 0.5f, 0); }},
      {"get parameter",
       [](TestEffect& u) {
         AudioUnitParameterValue value = 0;
         return u.GetParameter(kParam_CutoffFrequency, kAudioUnitScope_Global, 0, value);
       }},
      {"schedule an existing parameter",
       [](TestEffect& u) {
         const AudioUnitParameterEvent e = ImmediateEvent(kParam_Resonance, 0, 3.0f);
         return u.ScheduleParameter(&e, 1);
       }},
      {"render", [](TestEffect& u) { return RenderOnce(u, 0); }},
  });
  ListenerHook hook{fx.get(), &inside};
  ASSERT_EQ(fx->AddPropertyListener(kAudioUnitProperty_BypassEffect, &ListenerHook::Changed, &hook), noErr);
  ASSERT_EQ(fx->DispatchSetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &bypass,
                                    sizeof bypass),
            noErr);
  inside.Expect(noErr);
  AudioUnitParameterValue gain = 0;
  ASSERT_EQ(fx->GetParameter(kParam_Gain, kAudioUnitScope_Global, 0, gain), noErr);
  EXPECT_EQ(gain, 0.5f);
}

// What the debug check of the thread contract asks: is a thread other than
// the caller inside this side? Never for the thread inside itself.
TEST(CallOwner, TellsWhetherAnotherThreadIsInside) {
  AUCallOwner owner;
  auto fromOtherThread = [&] {
    bool held = false;
    std::thread([&] { held = owner.HeldByOtherThread(); }).join();
    return held;
  };
  EXPECT_FALSE(owner.HeldByOtherThread());
  EXPECT_FALSE(fromOtherThread());
  ASSERT_TRUE(owner.TryEnter());
  ASSERT_TRUE(owner.TryEnter());  // nested
  EXPECT_FALSE(owner.HeldByOtherThread());
  EXPECT_TRUE(fromOtherThread());
  owner.Leave();
  EXPECT_TRUE(fromOtherThread()) << "still inside once";
  owner.Leave();
  EXPECT_FALSE(fromOtherThread());
}

// In debug builds a [render] hook called from another thread while a render
// is under way stops the process, instead of racing the render over its
// buffers and kernels.
TEST_F(EdgeThreads, DebugBuildsStopARenderHookCalledBesideARender) {
#ifdef NDEBUG
  GTEST_SKIP() << "the thread contract is checked in debug builds only";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const AudioUnitParameterEvent ramp = RampEvent(kParam_CutoffFrequency, 0, 32, 500.0f, 600.0f);
  auto renderHookBesideARender = [&] {
    InsideCall inside({{"Render", [](TestEffect& u) {
                          AudioUnitRenderActionFlags flags = 0;
                          return u.Render(flags, SampleTime(1e6), 64);
                        }}});
    RenderHook hook{fx.get(), &inside, &ramp};
    fx->SetRenderNotification(&RenderHook::Notify, &hook);
    RenderOnce(*fx, 0);
  };
  EXPECT_DEATH(renderHookBesideARender(), "hook called outside the render thread");
#endif
}

}  // namespace
