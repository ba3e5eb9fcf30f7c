// Reading and writing the Notification signal, at the limits, without going
// through the daemon: messages are built on a private bus connection, sealed
// and read back as if received.
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/NotificationWire.h"
#include "support/NotificationTestSupport.h"

namespace {

::testing::Environment* const sBusEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

using Fill = std::function<int(sd_bus_message*)>;
using Message = std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

class NotificationWire : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_GE(sd_bus_open_user(&bus_), 0); }
  static void TearDownTestSuite() { bus_ = sd_bus_flush_close_unref(bus_); }

  static Message Build(const Fill& fill, const char* path = kNotificationPath) {
    sd_bus_message* m = nullptr;
    EXPECT_GE(sd_bus_message_new_signal(bus_, &m, path, kNotificationInterface, kNotificationMember), 0);
    EXPECT_GE(fill(m), 0);
    EXPECT_GE(sd_bus_message_seal(m, ++cookie_, 0), 0);
    return Message(m, sd_bus_message_unref);
  }

  static bool Read(const Fill& fill, WireNotification* out) {
    Message m = Build(fill);
    return ReadWireNotification(m.get(), out);
  }

  static inline sd_bus* bus_ = nullptr;
  static inline uint64_t cookie_ = 0;
};

int OpenEntry(sd_bus_message* m, const std::string& key) {
  int r = sd_bus_message_open_container(m, 'e', "sv");
  return r < 0 ? r : sd_bus_message_append_basic(m, 's', key.c_str());
}

// "ssa{sv}" with name "N", no object and the entries that body appends.
Fill UserInfo(const Fill& body) {
  return [body](sd_bus_message* m) {
    int r = sd_bus_message_append(m, "ss", "N", "");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r >= 0) r = body(m);
    return r < 0 ? r : sd_bus_message_close_container(m);
  };
}

Fill StringEntry(const std::string& key, size_t length) {
  return [=](sd_bus_message* m) { return sd_bus_message_append(m, "{sv}", key.c_str(), "s", std::string(length, 's').c_str()); };
}

Fill DataEntry(const std::string& key, size_t length) {
  return [=](sd_bus_message* m) {
    std::string bytes(length, 'b');
    int r = OpenEntry(m, key);
    if (r >= 0) r = sd_bus_message_open_container(m, 'v', "ay");
    if (r >= 0) r = sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
    for (int k = 0; r >= 0 && k < 2; ++k) r = sd_bus_message_close_container(m);
    return r;
  };
}

// key: an array of count integers.
Fill ArrayEntry(const std::string& key, size_t count) {
  return [=](sd_bus_message* m) {
    int r = OpenEntry(m, key);
    if (r >= 0) r = sd_bus_message_open_container(m, 'v', "av");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
    for (size_t i = 0; r >= 0 && i < count; ++i) r = sd_bus_message_append(m, "v", "i", int32_t(i));
    for (int k = 0; r >= 0 && k < 3; ++k) r = sd_bus_message_close_container(m);
    return r;
  };
}

// key: a dictionary of count entries.
Fill DictionaryEntry(const std::string& key, size_t count) {
  return [=](sd_bus_message* m) {
    int r = OpenEntry(m, key);
    if (r >= 0) r = sd_bus_message_open_container(m, 'v', "a{sv}");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    for (size_t i = 0; r >= 0 && i < count; ++i)
      r = sd_bus_message_append(m, "{sv}", ("k" + std::to_string(i)).c_str(), "b", 1);
    for (int k = 0; r >= 0 && k < 3; ++k) r = sd_bus_message_close_container(m);
    return r;
  };
}

// key: dictionaries nested so that the innermost is at nesting level depth
// (the user info being level 1), holding a boolean.
Fill NestedEntry(const std::string& key, int depth) {
  return [=](sd_bus_message* m) {
    int r = OpenEntry(m, key);
    for (int level = 2; r >= 0 && level <= depth; ++level) {
      r = sd_bus_message_open_container(m, 'v', "a{sv}");
      if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
      if (r >= 0) r = OpenEntry(m, "in");
    }
    if (r >= 0) r = sd_bus_message_append(m, "v", "b", 1);
    for (int level = 2; r >= 0 && level <= depth; ++level)
      for (int k = 0; r >= 0 && k < 3; ++k) r = sd_bus_message_close_container(m);
    return r < 0 ? r : sd_bus_message_close_container(m);
  };
}

Fill Many(size_t count, const std::function<Fill(size_t)>& make) {
  return [=](sd_bus_message* m) {
    int r = 0;
    for (size_t i = 0; r >= 0 && i < count; ++i) r = make(i)(m);
    return r;
  };
}

Fill Both(Fill a, Fill b) {
  return [=](sd_bus_message* m) {
    int r = a(m);
    return r < 0 ? r : b(m);
  };
}

std::vector<std::string> Keys(CFDictionaryRef dict) {
  std::vector<const void*> keys(static_cast<size_t>(CFDictionaryGetCount(dict)));
  CFDictionaryGetKeysAndValues(dict, keys.data(), nullptr);
  std::vector<std::string> names;
  for (const void* k : keys) names.push_back(Text(static_cast<CFStringRef>(k)));
  return names;
}

TEST_F(NotificationWire, ValuesAtTheLimitsAreKeptAndBeyondThemDropped) {
  const size_t kString = kNotificationMaxStringBytes, kData = kNotificationMaxDataBytes,
               kElements = kNotificationMaxElements;
  struct Case {
    const char* what;
    Fill body;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"strings", Both(StringEntry("at", kString), StringEntry("over", kString + 1)), {"at"}},
      {"keys", Both(StringEntry(std::string(kString, 'k'), 1), StringEntry(std::string(kString + 1, 'k'), 1)),
       {std::string(kString, 'k')}},
      {"byte strings", Both(DataEntry("at", kData), DataEntry("over", kData + 1)), {"at"}},
      {"arrays", Both(ArrayEntry("at", kElements), ArrayEntry("over", kElements + 1)), {"at"}},
      {"dictionaries", Both(DictionaryEntry("at", kElements), DictionaryEntry("over", kElements + 1)), {"at"}},
      {"nesting", Both(NestedEntry("at", kNotificationMaxDepth), NestedEntry("over", kNotificationMaxDepth + 1)),
       {"at", "over"}},
      {"user info entries", Many(kElements, [](size_t i) { return StringEntry("k" + std::to_string(i), 0); }), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WireNotification n;
    ASSERT_TRUE(Read(UserInfo(c.body), &n));
    ASSERT_NE(n.userInfo.get(), nullptr);
    if (!c.kept.empty()) {
      EXPECT_EQ(Keys(n.userInfo.get()), c.kept);
    }
  }
  // The container below the deepest level is dropped from its holder.
  WireNotification n;
  ASSERT_TRUE(Read(UserInfo(NestedEntry("over", kNotificationMaxDepth + 1)), &n));
  CFTypeRef v = CFDictionaryGetValue(n.userInfo.get(), CFSTR("over"));
  for (int level = 2; level < kNotificationMaxDepth; ++level)
    v = CFDictionaryGetValue(static_cast<CFDictionaryRef>(v), CFSTR("in"));
  ASSERT_EQ(CFGetTypeID(v), kQelvoTypeIDDictionary);
  EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(v)), 0);
}

TEST_F(NotificationWire, NotificationsBeyondTheTotalsOrMalformedAreDroppedWhole) {
  // Within the per-value limits, beyond the per-notification totals.
  const size_t perArray = kNotificationMaxElements;
  const size_t arrays = kNotificationMaxValues / perArray + 1;
  const size_t chunk = kNotificationMaxStringBytes;
  const size_t strings = kNotificationMaxTotalBytes / chunk + 1;
  std::string huge(kNotificationMaxStringBytes + 1, 'h');
  struct Case {
    const char* what;
    Fill fill;
  };
  const Case cases[] = {
      {"too many values", UserInfo(Many(arrays, [&](size_t i) { return ArrayEntry("a" + std::to_string(i), perArray); }))},
      {"too many bytes", UserInfo(Many(strings, [&](size_t i) { return StringEntry("s" + std::to_string(i), chunk); }))},
      {"too many user info entries",
       UserInfo(Many(kNotificationMaxElements + 1, [](size_t i) { return StringEntry("k" + std::to_string(i), 0); }))},
      {"name too long", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", huge.c_str(), "", 0); }},
      {"object too long", [&](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "N", huge.c_str(), 0); }},
      {"no user info", [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", "N", ""); }},
      {"user info of strings", [](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{ss}", "N", "", 0); }},
      {"name not a string", [](sd_bus_message* m) { return sd_bus_message_append(m, "osa{sv}", "/N", "", 0); }},
      {"trailing argument", [](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}s", "N", "", 0, ""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WireNotification n;
    EXPECT_FALSE(Read(c.fill, &n));
  }
  WireNotification n;
  Message elsewhere = Build([](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "N", "", 0); }, "/other");
  EXPECT_FALSE(ReadWireNotification(elsewhere.get(), &n));
}

// What a poster sends is what an observer elsewhere receives.
TEST_F(NotificationWire, PostedUserInfoReadsBackEqual) {
  auto dict = [] {
    return CFRef<CFMutableDictionaryRef>::Adopt(
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  };
  CFRef<CFMutableDictionaryRef> info = dict(), inner = dict();
  double level = 10.0;
  int16_t small = -3;
  CFRef<CFNumberRef> d = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &level));
  CFRef<CFNumberRef> s = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt16Type, &small));
  CFRef<CFMutableArrayRef> array = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(array.get(), kCFBooleanFalse);
  CFArrayAppendValue(array.get(), inner.get());
  CFDictionarySetValue(inner.get(), CFSTR("deeper"), CFSTR("yes"));
  CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));
  CFDictionarySetValue(info.get(), CFSTR("New Level"), d.get());
  CFDictionarySetValue(info.get(), CFSTR("small"), s.get());
  CFDictionarySetValue(info.get(), CFSTR("list"), array.get());
  CFDictionarySetValue(info.get(), CFSTR("empty"), dict().get());

  bool tooLarge = true;
  CFRef<CFDictionaryRef> wire = CopyUserInfoForWire(info.get(), &tooLarge);
  ASSERT_FALSE(tooLarge);
  ASSERT_TRUE(CFEqual(wire.get(), info.get()));  // numbers compare by value
  Message m = Build([&](sd_bus_message* msg) { return AppendWireNotification(msg, CFSTR("N"), CFSTR("O"), wire.get()); });
  WireNotification n;
  ASSERT_TRUE(ReadWireNotification(m.get(), &n));
  EXPECT_TRUE(CFEqual(n.name.get(), CFSTR("N")));
  EXPECT_TRUE(CFEqual(n.object.get(), CFSTR("O")));
  EXPECT_TRUE(CFEqual(n.userInfo.get(), wire.get()));
  EXPECT_EQ(Keys(n.userInfo.get()), Keys(info.get()));
}

TEST(NotificationMatchRule, NarrowsByNameAndObjectWhereTheBusCanExpressIt) {
  const std::string base =
      "type='signal',path='/io/qelvo/DistributedNotificationCenter',"
      "interface='io.qelvo.DistributedNotificationCenter',member='Notification'";
  std::string longText(1000, 'l');
  struct Case {
    const char* name;
    const char* object;
    std::string rule;
  };
  const Case cases[] = {
      {nullptr, nullptr, base},
      {"A b", nullptr, base + ",arg0='A b'"},
      {nullptr, "x", base + ",arg1='x'"},
      {"A", "x,y \"z\"", base + ",arg0='A',arg1='x,y \"z\"'"},
      {"it's", "x", base + ",arg1='x'"},
      {"A", longText.c_str(), base + ",arg0='A'"},
      {longText.c_str(), "x", base + ",arg1='x'"},
  };
  for (const Case& c : cases) {
    CFRef<CFStringRef> name = c.name != nullptr ? MakeCFString(c.name) : nullptr;
    CFRef<CFStringRef> object = c.object != nullptr ? MakeCFString(c.object) : nullptr;
    EXPECT_EQ(NotificationMatchRule(name.get(), object.get()), c.rule) << (c.name ? c.name : "") << " / " << (c.object ? c.object : "");
  }
}

}  // namespace
