#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#include "platform/NotificationWire.h"
#include "support/NotificationTestSupport.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

CFNotificationCenterRef Center() { return CFNotificationCenterGetDistributedCenter(); }

CFTypeRef Value(CFDictionaryRef dict, const char* key) { return CFDictionaryGetValue(dict, MakeCFString(key).get()); }

double AsDouble(CFTypeRef number) {
  double d = NAN;
  CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberFloat64Type, &d);
  return d;
}

int64_t AsInt(CFTypeRef number) {
  int64_t i = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt64Type, &i);
  return i;
}

// Posts "Sync" from another process and waits for it: everything that
// process's bus delivered before is in by then.
void SyncWithBus(Recorder& sync) {
  size_t before = sync.CountNamed("Sync");
  ASSERT_EQ(RunPeer("post Sync '' 1").exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return sync.CountNamed("Sync") > before; }));
}

// Posts "Local Sync" here and waits for it: local posts are delivered in
// order, so every earlier one has been by then.
void SyncLocal() {
  Recorder sync;
  sync.Observe("Local Sync");
  ASSERT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("Local Sync"), nullptr, nullptr, nullptr), 0);
  ASSERT_TRUE(sync.WaitFor(1));
}

TEST(NotificationCenter, LevelFromAnotherProcessArrivesWithItsValues) {
  Recorder recorder;
  recorder.Observe("Kest Level Changed Notification");
  ASSERT_EQ(RunPeer("post 'Kest Level Changed Notification' kest 3").exitCode, 0);
  ASSERT_TRUE(recorder.WaitFor(3));
  std::vector<Delivery> got = recorder.Deliveries();
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].name, "Kest Level Changed Notification");
    EXPECT_EQ(got[i].object, "kest");
    EXPECT_NE(got[i].thread, std::this_thread::get_id());
    CFDictionaryRef info = got[i].userInfo.get();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(CFEqual(Value(info, "Kest Symbol"), CFSTR("BS7V0")));
    EXPECT_TRUE(CFNumberIsFloatType(static_cast<CFNumberRef>(Value(info, "New Level"))));
    EXPECT_EQ(AsDouble(Value(info, "New Level")), 10.0);
    EXPECT_EQ(AsInt(Value(info, "Index")), static_cast<int64_t>(i)) << "delivered out of order";
  }
}

// Both a sender using the centre and one writing the signal by hand.
TEST(NotificationCenter, EveryTransportedKindArrivesAsItsValueType) {
  struct Expect {
    const char* key;
    CFTypeID type;
    double number;  // numbers only
    bool isFloat;
  };
  const std::vector<std::pair<const char*, std::vector<Expect>>> cases = {
      {"post-types",
       {{"string", kQelvoTypeIDString, 0, false},
        {"double", kQelvoTypeIDNumber, 0.1, true},
        {"float", kQelvoTypeIDNumber, 1.5, true},
        {"int", kQelvoTypeIDNumber, -7, false},
        {"int64", kQelvoTypeIDNumber, -9223372036854775808.0, false},
        {"true", kQelvoTypeIDBoolean, 0, false},
        {"data", kQelvoTypeIDData, 0, false},
        {"array", kQelvoTypeIDArray, 0, false},
        {"dict", kQelvoTypeIDDictionary, 0, false}}},
      {"raw-types",
       {{"s", kQelvoTypeIDString, 0, false},
        {"d", kQelvoTypeIDNumber, 0.1, true},
        {"i", kQelvoTypeIDNumber, -5, false},
        {"u", kQelvoTypeIDNumber, 4000000000.0, false},
        {"x", kQelvoTypeIDNumber, -9223372036854775808.0, false},
        {"t", kQelvoTypeIDNumber, 18446744073709551615.0, true},
        {"t-small", kQelvoTypeIDNumber, 42, false},
        {"b", kQelvoTypeIDBoolean, 0, false},
        {"New Level", kQelvoTypeIDNumber, 10, true}}},
  };
  for (const auto& [mode, expects] : cases) {
    SCOPED_TRACE(mode);
    Recorder recorder;
    recorder.Observe("Types");
    ASSERT_EQ(RunPeer(mode).exitCode, 0);
    ASSERT_TRUE(recorder.WaitFor(1));
    Delivery d = recorder.Deliveries().at(0);
    EXPECT_EQ(d.object, "types-object");
    CFDictionaryRef info = d.userInfo.get();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(CFDictionaryGetCount(info), static_cast<CFIndex>(expects.size())) << "unsupported values kept";
    for (const Expect& e : expects) {
      SCOPED_TRACE(e.key);
      CFTypeRef v = Value(info, e.key);
      ASSERT_EQ(CFGetTypeID(v), e.type);
      if (e.type == kQelvoTypeIDNumber) {
        EXPECT_EQ(CFNumberIsFloatType(static_cast<CFNumberRef>(v)) != 0, e.isFloat);
        if (e.isFloat)
          EXPECT_EQ(AsDouble(v), e.number);
        else
          EXPECT_EQ(static_cast<double>(AsInt(v)), e.number);
      }
    }
    if (std::string(mode) == "post-types") {
      EXPECT_TRUE(CFEqual(Value(info, "string"), CFSTR("text é")));
      EXPECT_EQ(Value(info, "true"), kCFBooleanTrue);
      CFDataRef data = static_cast<CFDataRef>(Value(info, "data"));
      ASSERT_EQ(CFDataGetLength(data), 4);
      EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), "\x00\x01\x02\xff", 4), 0);
      CFArrayRef array = static_cast<CFArrayRef>(Value(info, "array"));
      ASSERT_EQ(CFArrayGetCount(array), 2);
      EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(array, 0), CFSTR("a")));
      EXPECT_EQ(AsInt(CFArrayGetValueAtIndex(array, 1)), 2);
      EXPECT_EQ(AsDouble(Value(static_cast<CFDictionaryRef>(Value(info, "dict")), "x")), -2.5);
    } else {
      EXPECT_EQ(Value(info, "b"), kCFBooleanFalse);
    }
  }
}

// The command in docs/notifications.md, as another program would post.
TEST(NotificationCenter, BusctlExampleFromTheDocsIsDelivered) {
  std::string busctl = PrivateBus::FindProgram("busctl");
  if (busctl.empty()) GTEST_SKIP() << "busctl not installed";
  Recorder recorder;
  recorder.Observe("Kest Level Changed Notification");
  std::string command = busctl +
                        " --user emit /io/qelvo/DistributedNotificationCenter io.qelvo.DistributedNotificationCenter"
                        " Notification 'ssa{sv}' 'Kest Level Changed Notification' '' 2"
                        " 'Kest Symbol' s BS7V0 'New Level' d 10.0";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(recorder.WaitFor(1));
  Delivery d = recorder.Deliveries().at(0);
  EXPECT_FALSE(d.hasObject);
  EXPECT_TRUE(CFEqual(Value(d.userInfo.get(), "Kest Symbol"), CFSTR("BS7V0")));
  EXPECT_EQ(AsDouble(Value(d.userInfo.get(), "New Level")), 10.0);
}

// The bus itself keeps back what nobody here observes: the process reads
// only the signals its observers match.
TEST(NotificationCenter, OnlyObservedNotificationsReachTheProcess) {
  Recorder byName, byObject, odd;
  byName.Observe("Filter A");
  byObject.Observe("Filter B", "wanted");
  // Quotes and commas must not break the bus rule; an apostrophe keeps its
  // argument out of the rule, the object still narrows it.
  odd.Observe("Level's name", "\"odd\", object");
  uint64_t before = QelvoNotificationCenterBusSignalCount(Center());
  const char* const posts[] = {
      "'Filter C' '' 5",
      "'Filter B' other 3",
      "'Filter B' '' 2",
      "\"Level's name\" its 2",
      "'Filter B' wanted 1",
      "\"Level's name\" '\"odd\", object' 1",
      "'Filter A' anything 1",
  };
  for (const char* post : posts) ASSERT_EQ(RunPeer(std::string("post ") + post).exitCode, 0) << post;
  ASSERT_TRUE(byName.WaitFor(1));
  ASSERT_TRUE(byObject.WaitFor(1));
  ASSERT_TRUE(odd.WaitFor(1));
  // Each process's signals arrive in order: the unwanted ones, sent first,
  // would have been counted by now.
  EXPECT_EQ(QelvoNotificationCenterBusSignalCount(Center()) - before, 3u);
  EXPECT_EQ(byName.Deliveries().at(0).object, "anything");
  EXPECT_EQ(byObject.Deliveries().at(0).object, "wanted");
  EXPECT_EQ(odd.Deliveries().at(0).name, "Level's name");
  EXPECT_EQ(odd.Deliveries().at(0).object, "\"odd\", object");
  EXPECT_EQ(byName.Count() + byObject.Count() + odd.Count(), 3u);
}

std::vector<std::string> sOrder;
std::mutex sOrderMutex;
void RecordOrder(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef) {
  std::lock_guard<std::mutex> lock(sOrderMutex);
  sOrder.push_back(static_cast<const char*>(observer));
}

TEST(NotificationCenter, ObserversAreCalledInRegistrationOrderOncePerRegistration) {
  static const char* const tags[] = {"first", "any name", "second", "first again"};
  CFRef<CFStringRef> name = MakeCFString("Order");
  const CFStringRef names[] = {name.get(), nullptr, name.get(), name.get()};
  for (int i = 0; i < 4; ++i)
    CFNotificationCenterAddObserver(Center(), i == 3 ? tags[0] : tags[i], RecordOrder, names[i], nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
  ASSERT_EQ(RunPeer("post Order '' 2").exitCode, 0);
  ASSERT_TRUE(Eventually([] {
    std::lock_guard<std::mutex> lock(sOrderMutex);
    return sOrder.size() >= 8;
  }));
  QelvoNotificationCenterRemoveCallback(Center(), RecordOrder);
  std::vector<std::string> once = {"first", "any name", "second", "first"};
  std::vector<std::string> expected = once;
  expected.insert(expected.end(), once.begin(), once.end());
  std::lock_guard<std::mutex> lock(sOrderMutex);
  EXPECT_EQ(sOrder, expected);
}

TEST(NotificationCenter, OwnPostIsDeliveredExactlyOnceOnTheDeliveryThread) {
  Recorder own, sync;
  own.Observe("Own");
  sync.Observe("Sync");
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  int32_t seven = 7;
  CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &seven));
  CFDictionarySetValue(info.get(), CFSTR("n"), number.get());
  uint64_t before = QelvoNotificationCenterBusSignalCount(Center());
  std::string error;
  ASSERT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("Own"), CFSTR("me"), info.get(), &error), 0) << error;
  // The bus echoes the post back to this process; wait for that echo, then
  // for another process's notification behind it.
  ASSERT_TRUE(Eventually([&] { return QelvoNotificationCenterBusSignalCount(Center()) > before; }));
  SyncWithBus(sync);
  ASSERT_EQ(own.Count(), 1u);
  Delivery d = own.Deliveries().at(0);
  EXPECT_EQ(d.object, "me");
  EXPECT_NE(d.thread, std::this_thread::get_id());
  // Observers get the transported form, not the poster's dictionary.
  EXPECT_NE(d.userInfo.get(), info.get());
  EXPECT_EQ(AsInt(Value(d.userInfo.get(), "n")), 7);
}

TEST(NotificationCenter, PostRefusesWhatCannotBeSent) {
  std::string longName(kNotificationMaxStringBytes + 1, 'n');
  CFRef<CFStringRef> tooLong = MakeCFString(longName);
  const uint8_t withZero[] = {'a', 0, 'b'};
  CFRef<CFStringRef> zero =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(nullptr, withZero, 3, kCFStringEncodingUTF8, false));
  CFRef<CFMutableDictionaryRef> huge = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFRef<CFStringRef> chunk = MakeCFString(std::string(60 * 1024, 'c'));
  for (int i = 0; i < 150; ++i) CFDictionarySetValue(huge.get(), MakeCFString("k" + std::to_string(i)).get(), chunk.get());

  struct Case {
    const char* what;
    CFStringRef name;
    CFStringRef object;
    CFDictionaryRef userInfo;
    int expected;
  };
  const Case cases[] = {
      {"no name", nullptr, nullptr, nullptr, -EINVAL},
      {"name over the limit", tooLong.get(), nullptr, nullptr, -EINVAL},
      {"object over the limit", CFSTR("Refused"), tooLong.get(), nullptr, -EINVAL},
      {"zero byte in the name", zero.get(), nullptr, nullptr, -EINVAL},
      {"user info over the byte total", CFSTR("Refused"), nullptr, huge.get(), -E2BIG},
  };
  Recorder recorder;
  recorder.Observe("");
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(QelvoNotificationCenterPost(Center(), c.name, c.object, c.userInfo, &error), c.expected) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  ASSERT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("Accepted"), nullptr, nullptr, nullptr), 0);
  ASSERT_TRUE(recorder.WaitFor(1));
  EXPECT_EQ(recorder.Deliveries().at(0).name, "Accepted");
  EXPECT_EQ(recorder.Count(), 1u);
}

struct SlowObserver {
  bool removesItself = false;
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  std::atomic<int> calls{0};
  static void Callback(CFNotificationCenterRef center, void* observer, CFStringRef, const void*, CFDictionaryRef) {
    auto* self = static_cast<SlowObserver*>(observer);
    if (self->removesItself) CFNotificationCenterRemoveEveryObserver(center, observer);
    ++self->calls;
    self->entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    self->finished = true;
  }
};

// Each way of removing, while the observer is in its call; also when the
// observer already removed itself at the start of that call.
TEST(NotificationCenter, RemovalWaitsForTheCallInProgress) {
  struct Removal {
    const char* what;
    bool removesItself;
    void (*remove)(SlowObserver*);
  };
  const Removal removals[] = {
      {"RemoveObserver", false,
       [](SlowObserver* o) { CFNotificationCenterRemoveObserver(Center(), o, CFSTR("Slow"), nullptr); }},
      {"RemoveEveryObserver", false, [](SlowObserver* o) { CFNotificationCenterRemoveEveryObserver(Center(), o); }},
      {"RemoveCallback", false,
       [](SlowObserver*) { QelvoNotificationCenterRemoveCallback(Center(), SlowObserver::Callback); }},
      {"RemoveCallback after removing itself", true,
       [](SlowObserver*) { QelvoNotificationCenterRemoveCallback(Center(), SlowObserver::Callback); }},
      {"RemoveObserver after removing itself", true,
       [](SlowObserver* o) { CFNotificationCenterRemoveObserver(Center(), o, nullptr, nullptr); }},
  };
  for (const auto& [what, removesItself, remove] : removals) {
    SCOPED_TRACE(what);
    SlowObserver observer;
    observer.removesItself = removesItself;
    CFNotificationCenterAddObserver(Center(), &observer, SlowObserver::Callback, CFSTR("Slow"), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    QelvoNotificationCenterPost(Center(), CFSTR("Slow"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(Eventually([&] { return observer.entered.load(); }));
    remove(&observer);
    EXPECT_TRUE(observer.finished);
    QelvoNotificationCenterPost(Center(), CFSTR("Slow"), nullptr, nullptr, nullptr);
    SyncLocal();
    EXPECT_EQ(observer.calls, 1);
  }
}

struct SelfRemover {
  std::atomic<int> calls{0};
  static void Callback(CFNotificationCenterRef center, void* observer, CFStringRef, const void*, CFDictionaryRef) {
    ++static_cast<SelfRemover*>(observer)->calls;
    CFNotificationCenterRemoveEveryObserver(center, observer);
  }
};

TEST(NotificationCenter, ObserverCanRemoveItselfDuringItsCall) {
  SelfRemover remover;
  Recorder after;
  CFNotificationCenterAddObserver(Center(), &remover, SelfRemover::Callback, CFSTR("Once"), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  after.Observe("Once");
  ASSERT_EQ(RunPeer("post Once '' 3").exitCode, 0);
  ASSERT_TRUE(after.WaitFor(3));
  EXPECT_EQ(remover.calls, 1);
}

TEST(NotificationCenter, RemoveCallbackTakesEveryRegistrationOfThatCallback) {
  Recorder a, b, kept;
  a.Observe("Unload");
  b.Observe("Unload", "x");
  b.Observe("");
  std::atomic<int> otherCalls{0};
  CFNotificationCenterAddObserver(
      Center(), &otherCalls,
      [](CFNotificationCenterRef, void* o, CFStringRef, const void*, CFDictionaryRef) { ++*static_cast<std::atomic<int>*>(o); },
      CFSTR("Unload"), nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
  QelvoNotificationCenterRemoveCallback(Center(), Recorder::Callback);
  ASSERT_EQ(RunPeer("post Unload x 1").exitCode, 0);
  ASSERT_TRUE(Eventually([&] { return otherCalls.load() == 1; }));
  EXPECT_EQ(a.Count() + b.Count(), 0u);
  CFNotificationCenterRemoveEveryObserver(Center(), &otherCalls);
}

TEST(NotificationCenter, RemoveObserverMatchesNameAndObject) {
  // Registrations of one observer: 0 ("Rm", any object), 1 ("Rm", "x"),
  // 2 ("Other", any object). Posting "Rm"/"y" reaches 0, "Other" reaches 2,
  // "Rm"/"x" reaches 0 and 1.
  struct Case {
    const char* what;
    const char* name;    // null: any
    const char* object;  // null: any
    int rmY, other, rmX;  // calls expected afterwards
  };
  const Case cases[] = {
      {"everything of the observer", nullptr, nullptr, 0, 0, 0},
      {"one name, any object", "Rm", nullptr, 0, 1, 0},
      {"one name and object", "Rm", "x", 1, 1, 1},
      {"any name, one object", nullptr, "x", 1, 1, 1},
      {"a name never registered", "Nope", nullptr, 1, 1, 2},
  };
  static std::map<std::string, int> sCalls;
  auto count = [](CFNotificationCenterRef, void*, CFStringRef name, const void* object, CFDictionaryRef) {
    sCalls[Text(name) + "/" + (object != nullptr ? Text(static_cast<CFStringRef>(object)) : "")]++;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int observer = 0;
    CFNotificationCenterAddObserver(Center(), &observer, count, CFSTR("Rm"), nullptr, 4);
    CFNotificationCenterAddObserver(Center(), &observer, count, CFSTR("Rm"), CFSTR("x"), 4);
    CFNotificationCenterAddObserver(Center(), &observer, count, CFSTR("Other"), nullptr, 4);
    CFRef<CFStringRef> name = c.name != nullptr ? MakeCFString(c.name) : nullptr;
    CFRef<CFStringRef> object = c.object != nullptr ? MakeCFString(c.object) : nullptr;
    CFNotificationCenterRemoveObserver(Center(), &observer, name.get(), object.get());
    QelvoNotificationCenterPost(Center(), CFSTR("Rm"), CFSTR("y"), nullptr, nullptr);
    QelvoNotificationCenterPost(Center(), CFSTR("Other"), nullptr, nullptr, nullptr);
    QelvoNotificationCenterPost(Center(), CFSTR("Rm"), CFSTR("x"), nullptr, nullptr);
    SyncLocal();  // delivery thread only touches sCalls before this returns
    EXPECT_EQ(sCalls["Rm/y"], c.rmY);
    EXPECT_EQ(sCalls["Other/"], c.other);
    EXPECT_EQ(sCalls["Rm/x"], c.rmX);
    CFNotificationCenterRemoveEveryObserver(Center(), &observer);
    sCalls.clear();
  }
}

std::map<std::string, std::string> ParseLines(const std::string& output) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return fields;
}

TEST(NotificationCenter, WithoutABusPostsStillReachLocalObserversAndReportTheFailure) {
  struct Case {
    const char* env;
    const char* reason;  // part of the error text
  };
  const Case cases[] = {
      {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/qelvo-bus", "/nonexistent/qelvo-bus"},
      {"-u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env);
    PeerResult result = RunPeer("local", c.env);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    auto fields = ParseLines(result.output);
    EXPECT_EQ(fields["connected"], "0");
    EXPECT_EQ(fields["post"], std::to_string(-ENOTCONN));
    EXPECT_NE(fields["error"].find(c.reason), std::string::npos) << fields["error"];
    EXPECT_EQ(fields["delivered"], "1");
  }
}

TEST(NotificationCenter, ReconnectsAndObservesAgainAfterTheBusRestarts) {
  Recorder recorder;
  recorder.Observe("After Restart");
  ASSERT_EQ(QelvoNotificationCenterWaitUntilConnected(Center(), 10, nullptr), 0);
  PrivateBusEnvironment::Bus().Stop();
  ASSERT_TRUE(Eventually([] { return !QelvoNotificationCenterIsConnected(Center()); }));
  std::string error;
  EXPECT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("During Outage"), nullptr, nullptr, &error), -ENOTCONN);
  EXPECT_FALSE(error.empty());
  PrivateBusEnvironment::Bus().Start();
  ASSERT_TRUE(Eventually([] { return QelvoNotificationCenterIsConnected(Center()); }));
  // The observer's match rule is back: a notification from elsewhere arrives.
  ASSERT_EQ(RunPeer("post 'After Restart' '' 1").exitCode, 0);
  ASSERT_TRUE(recorder.WaitFor(1));
  EXPECT_EQ(recorder.Deliveries().at(0).name, "After Restart");
  EXPECT_EQ(QelvoNotificationCenterPost(Center(), CFSTR("After Restart"), nullptr, nullptr, nullptr), 0);
  ASSERT_TRUE(recorder.WaitFor(2));
}

TEST(NotificationCenter, MalformedNotificationsFromAnotherProcessAreDropped) {
  Recorder recorder;
  recorder.Observe("");
  ASSERT_EQ(RunPeer("garbage").exitCode, 0);
  ASSERT_TRUE(recorder.WaitFor(2));
  std::vector<Delivery> got = recorder.Deliveries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].name, "Mixed");
  EXPECT_EQ(got[1].name, "Sentinel");
  CFDictionaryRef info = got[0].userInfo.get();
  ASSERT_NE(info, nullptr);
  std::vector<std::string> keys(static_cast<size_t>(CFDictionaryGetCount(info)));
  std::vector<const void*> raw(keys.size());
  CFDictionaryGetKeysAndValues(info, raw.data(), nullptr);
  for (size_t i = 0; i < raw.size(); ++i) keys[i] = Text(static_cast<CFStringRef>(raw[i]));
  EXPECT_EQ(keys, (std::vector<std::string>{"ok", "New Level", "deep", "deepest-kept", "first-dropped", "mixed-array"}));
  EXPECT_EQ(CFGetTypeID(Value(info, "New Level")), kQelvoTypeIDString);
  CFArrayRef mixed = static_cast<CFArrayRef>(Value(info, "mixed-array"));
  ASSERT_EQ(CFArrayGetCount(mixed), 2);
  EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(mixed, 0), CFSTR("kept")));
  EXPECT_EQ(AsDouble(CFArrayGetValueAtIndex(mixed, 1)), 2.0);
  // Containers nest at most kNotificationMaxDepth deep, the user info being
  // the first: a container below that is dropped from the one holding it.
  const std::pair<const char*, CFTypeRef> bottoms[] = {
      {"deepest-kept", CFSTR("bottom")}, {"first-dropped", nullptr}, {"deep", nullptr}};
  for (const auto& [key, bottom] : bottoms) {
    SCOPED_TRACE(key);
    CFTypeRef v = Value(info, key);
    for (int level = 2; level <= kNotificationMaxDepth; ++level) {
      ASSERT_EQ(CFGetTypeID(v), kQelvoTypeIDArray) << "level " << level;
      v = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(v), 0);
    }
    EXPECT_TRUE(bottom != nullptr ? CFEqual(v, bottom) : v == nullptr);
  }
}

}  // namespace
