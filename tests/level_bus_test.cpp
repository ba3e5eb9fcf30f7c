// The level listener behind the distributed centre: registrations, delivery
// from another process, and unloading a shared object that registered.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "effect/KestNotificationObserver.h"
#include "effect/ModulationState.h"
#include "platform/CFRef.h"
#include "support/PrivateBus.h"

extern char** environ;

// Test programs are the band-7 deliverable (variant index 6).

namespace {

constexpr int32_t kModeSentinel = 7;
constexpr float kGainSentinel = 1.25f;
constexpr double kCutoffSentinel = 3.5;

// Observes "Level Test Done", which the tests and the peer post after the
// notifications under test: once it arrives, those have been delivered.
std::atomic<uint64_t> sDone{0};

void DoneCallback(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sDone; }

class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    bus_ = new PrivateBus;
    // An observer of its own: the listener's removals without observer take
    // every registration without one.
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), &sDone, DoneCallback,
                                    CFSTR("Level Test Done"), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
  }
  void TearDown() override {
    QelvoNotificationCenterRemoveCallback(CFNotificationCenterGetDistributedCenter(), DoneCallback);
    delete bus_;
  }

 private:
  PrivateBus* bus_ = nullptr;
};
const ::testing::Environment* const sBus = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

bool WaitForDone(uint64_t before) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sDone.load() <= before) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

CFRef<CFDictionaryRef> UserInfo(const char* symbol, double level) {
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), Str(symbol).get());
  CFDictionarySetValue(info.get(), CFSTR("New Level"), number.get());
  return CFRef<CFDictionaryRef>::Adopt(info.release());
}

// Posts in this process and waits until it has been delivered.
void PostHere(const char* object, CFDictionaryRef userInfo = nullptr,
              const char* name = "Kest Level Changed Notification") {
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  const uint64_t before = sDone.load();
  CFRef<CFStringRef> o = object != nullptr ? Str(object) : nullptr;
  CFNotificationCenterPostNotification(center, Str(name).get(), o.get(), userInfo, true);
  CFNotificationCenterPostNotification(center, CFSTR("Level Test Done"), nullptr, nullptr, true);
  ASSERT_TRUE(WaitForDone(before));
}

// Runs the peer with args and waits until what it posted has been delivered.
void RunPeer(std::vector<std::string> args, bool expectDone = true) {
  args.insert(args.begin(), QELVO_LEVEL_PEER);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const uint64_t before = sDone.load();
  // Registrations are confirmed by the bus in the background.
  QelvoNotificationCenterWaitUntilConnected(CFNotificationCenterGetDistributedCenter(), 10, nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "peer " << args[1] << " failed";
  if (expectDone) {
    ASSERT_TRUE(WaitForDone(before));
  }
}

class LevelBus : public ::testing::Test {
 protected:
  void SetUp() override { SetState(1); }
  // No registration of the listener outlives a test.
  void TearDown() override {
    QelvoNotificationCenterRemoveCallback(CFNotificationCenterGetDistributedCenter(), myCallback);
  }

  static void SetState(int32_t preset) {
    kPresetDefaultIndexX.store(preset);
    testX.store(kModeSentinel);
    gainX.store(kGainSentinel);
    cutoffX.store(kCutoffSentinel);
  }
  // With preset 1 any delivered level notification writes filter mode.
  static bool Delivered(const char* object) {
    SetState(1);
    PostHere(object);
    const bool delivered = testX.load() == 1;
    EXPECT_EQ(gainX.load(), kGainSentinel);
    return delivered;
  }
  static void ExpectUntouched() {
    EXPECT_EQ(testX.load(), kModeSentinel);
    EXPECT_EQ(gainX.load(), kGainSentinel);
    EXPECT_EQ(cutoffX.load(), kCutoffSentinel);
  }
};

// ---- registrations ------------------------------------------------------------

TEST_F(LevelBus, ListenerWithoutObserverHearsEverySender) {
  EXPECT_FALSE(Delivered(nullptr));
  AddKestNotificationObserverX();
  EXPECT_TRUE(Delivered(nullptr));
  EXPECT_TRUE(Delivered("analyser"));
  RemoveKestNotificationObserverX();
  EXPECT_FALSE(Delivered(nullptr));
  EXPECT_FALSE(Delivered("analyser"));
}

TEST_F(LevelBus, KestObjectMeansAnySender) {
  int observer = 0, other = 0;
  AddKestNotificationObserver(&observer, CFSTR("kest"));
  EXPECT_TRUE(Delivered(nullptr));
  EXPECT_TRUE(Delivered("analyser"));
  RemoveKestNotificationObserver(&other, CFSTR("kest"));
  EXPECT_TRUE(Delivered("analyser")) << "another observer's removal took this one";
  RemoveKestNotificationObserver(&observer, Str("kest").get());
  EXPECT_FALSE(Delivered("analyser"));
}

TEST_F(LevelBus, ObjectFiltersSenders) {
  int observer = 0;
  AddKestNotificationObserver(&observer, Str("analyser").get());
  EXPECT_TRUE(Delivered("analyser"));
  EXPECT_FALSE(Delivered("other"));
  EXPECT_FALSE(Delivered(nullptr));
  RemoveKestNotificationObserver(&observer, CFSTR("other"));
  EXPECT_TRUE(Delivered("analyser"));
  RemoveKestNotificationObserver(&observer, CFSTR("analyser"));
  EXPECT_FALSE(Delivered("analyser"));
}

TEST_F(LevelBus, RemovingAllOfOneObserverKeepsTheOthers) {
  int observer = 0;
  AddKestNotificationObserver(&observer, CFSTR("analyser"));
  AddKestNotificationObserver(&observer, CFSTR("kest"));
  AddKestNotificationObserverX();
  RemoveObserverForAllKestX();
  EXPECT_TRUE(Delivered("other"));  // the "kest" registration
  RemoveObserverForAllKest(&observer);
  EXPECT_FALSE(Delivered("analyser"));

  AddKestNotificationObserverX();
  AddKestNotificationObserver(&observer, CFSTR("kest"));
  RemoveObserverForAllKest(&observer);
  EXPECT_TRUE(Delivered("other"));  // the registration without observer
  RemoveObserverForAllKestX();
  EXPECT_FALSE(Delivered("other"));
}

TEST_F(LevelBus, OnlyTheLevelNotificationIsHeard) {
  AddKestNotificationObserverX();
  for (const char* name : {"Kest Level Changed", "kest level changed notification", "Level Test Done"}) {
    SetState(1);
    PostHere(nullptr, UserInfo("BS7V0", 50.0).get(), name);
    ExpectUntouched();
  }
}

// ---- from another process -------------------------------------------------------

TEST_F(LevelBus, LevelFromAnotherProcessReachesTheFactors) {
  AddKestNotificationObserverX();
  SetState(0);
  RunPeer({"post", "Kest Level Changed Notification", "", "Kest Symbol=s:BS7V0", "New Level=i:10"});
  EXPECT_EQ(testX.load(), 0);
  EXPECT_EQ(gainX.load(), 0.3f);
  EXPECT_EQ(cutoffX.load(), 0.5);

  // A 32-bit float level arrives unchanged.
  SetState(3);
  RunPeer({"post", "Kest Level Changed Notification", "analyser", "Kest Symbol=s:BS7F0", "New Level=f:40"});
  EXPECT_EQ(testX.load(), 1);
  EXPECT_EQ(gainX.load(), 0.6f);
  EXPECT_EQ(cutoffX.load(), 1.0);
}

TEST_F(LevelBus, OtherNamesAndSendersFromAnotherProcessAreNotHeard) {
  int observer = 0;
  AddKestNotificationObserver(&observer, CFSTR("analyser"));
  struct {
    const char* name;
    const char* object;
  } cases[] = {{"Kest Level Changed", "analyser"},
               {"Kest Level Changed Notification ", "analyser"},
               {"Kest Level Changed Notification", "other"},
               {"Kest Level Changed Notification", ""}};
  for (const auto& c : cases) {
    SetState(1);
    RunPeer({"post", c.name, c.object, "Kest Symbol=s:BS7V0", "New Level=d:50"});
    ExpectUntouched();
  }
}

TEST_F(LevelBus, MalformedSignalsChangeNothing) {
  AddKestNotificationObserverX();
  RunPeer({"malformed"});
  ExpectUntouched();
}

TEST_F(LevelBus, IncompleteUserInfoOnlyReassertsTheMode) {
  AddKestNotificationObserverX();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"Kest Symbol=i:7", "New Level=d:50"},
      {"New Level=d:50"},
      {"Kest Symbol=s:BS7F0", "New Level=d:50"},
      {"Kest Symbol=s:peakLV", "New Level=d:50"},
  };
  for (const auto& entries : cases) {
    SetState(1);
    std::vector<std::string> args = {"post", "Kest Level Changed Notification", ""};
    args.insert(args.end(), entries.begin(), entries.end());
    RunPeer(args);
    EXPECT_EQ(testX.load(), 1);
    EXPECT_EQ(gainX.load(), kGainSentinel);
    EXPECT_EQ(cutoffX.load(), kCutoffSentinel);
  }
}

// ---- a deliverable's shared object ----------------------------------------------

struct Module {
  void* handle = nullptr;
  template <class F>
  F* Get(const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }
};

TEST_F(LevelBus, UnloadedObjectLeavesNoRegistrationBehind) {
  Module m{dlopen(QELVO_LEVEL_MODULE, RTLD_NOW | RTLD_LOCAL)};
  ASSERT_NE(m.handle, nullptr) << dlerror();
  auto* registerListener = m.Get<void()>("LevelModuleRegister");
  auto* setPreset = m.Get<void(int32_t)>("LevelModuleSetPreset");
  auto* setState = m.Get<void(int32_t, float, double)>("LevelModuleSetState");
  auto* mode = m.Get<int32_t()>("LevelModuleMode");
  auto* gain = m.Get<float()>("LevelModuleGain");
  auto* cutoff = m.Get<double()>("LevelModuleCutoff");
  ASSERT_TRUE(registerListener && setPreset && setState && mode && gain && cutoff);

  // Two deliverables in one process: the left peak in the module, band 7 here.
  setPreset(0);
  setState(kModeSentinel, kGainSentinel, kCutoffSentinel);
  registerListener();
  AddKestNotificationObserverX();
  SetState(0);

  PostHere(nullptr, UserInfo("peakLV", 30.0).get());
  EXPECT_EQ(mode(), 0);
  EXPECT_EQ(gain(), 2.0f);
  EXPECT_EQ(cutoff(), 5.0);
  EXPECT_EQ(testX.load(), 0);
  EXPECT_EQ(gainX.load(), kGainSentinel);

  setPreset(1);
  PostHere(nullptr, UserInfo("BS7V0", 10.0).get());
  EXPECT_EQ(gainX.load(), 0.3f);
  EXPECT_EQ(cutoffX.load(), 0.5);
  EXPECT_EQ(mode(), 1);
  EXPECT_EQ(gain(), 2.0f);
  PostHere(nullptr, UserInfo("peakLV", 30.0).get());
  EXPECT_EQ(gain(), 0.45f);
  EXPECT_EQ(cutoff(), 0.75);

  ASSERT_EQ(dlclose(m.handle), 0);
  ASSERT_EQ(dlopen(QELVO_LEVEL_MODULE, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed loaded";

  // A registration left behind would now call into unmapped code.
  SetState(0);
  PostHere(nullptr, UserInfo("BS7V0", 20.0).get());
  PostHere(nullptr, UserInfo("peakLV", 30.0).get());
  EXPECT_EQ(gainX.load(), 0.6f) << "this program's own registration must stay";
  EXPECT_EQ(cutoffX.load(), 1.0);
}

TEST_F(LevelBus, UnloadingWithoutRegisteringLeavesTheCentreAlone) {
  RunPeer({"load-unused", QELVO_LEVEL_MODULE}, false);
}

}  // namespace
