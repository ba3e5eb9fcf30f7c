// A second process for the notification tests: posts through the centre, or
// writes signals by hand (including malformed ones) with sd-bus directly.
//
//   notifications_peer post NAME OBJECT COUNT   COUNT level notifications, "Index" 0..COUNT-1
//   notifications_peer post-types               one "Types" notification with every value kind
//   notifications_peer raw-types                 the same by hand, with every integer signature
//   notifications_peer garbage                   malformed notifications, then "Sentinel"
//   notifications_peer local                     no bus: posts to itself, prints what happened
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/CFRef.h"
#include "platform/NotificationWire.h"
#include "platform/Notifications.h"

namespace {

CFRef<CFStringRef> Str(const char* text) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

CFRef<CFNumberRef> Num(double value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &value));
}

CFRef<CFNumberRef> Int(int32_t value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

CFRef<CFMutableDictionaryRef> NewDict() {
  return CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

int Post(int argc, char** argv) {
  if (argc < 5) return 2;
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  CFRef<CFStringRef> name = Str(argv[2]);
  CFRef<CFStringRef> object = Str(argv[3]);
  long count = std::atol(argv[4]);
  for (long i = 0; i < count; ++i) {
    CFRef<CFMutableDictionaryRef> info = NewDict();
    CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));
    CFDictionarySetValue(info.get(), CFSTR("New Level"), Num(10.0).get());
    CFDictionarySetValue(info.get(), CFSTR("Index"), Int(static_cast<int32_t>(i)).get());
    std::string error;
    int rc = QelvoNotificationCenterPost(center, name.get(), object.get(), info.get(), &error);
    if (rc != 0) {
      std::fprintf(stderr, "post failed: %d %s\n", rc, error.c_str());
      return 1;
    }
  }
  return 0;
}

int PostTypes() {
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  CFRef<CFMutableDictionaryRef> info = NewDict();
  CFDictionarySetValue(info.get(), CFSTR("string"), CFSTR("text é"));
  CFDictionarySetValue(info.get(), CFSTR("double"), Num(0.1).get());
  float f = 1.5f;
  CFRef<CFNumberRef> single = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat32Type, &f));
  CFDictionarySetValue(info.get(), CFSTR("float"), single.get());
  CFDictionarySetValue(info.get(), CFSTR("int"), Int(-7).get());
  int64_t big = INT64_MIN;
  CFRef<CFNumberRef> wide = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
  CFDictionarySetValue(info.get(), CFSTR("int64"), wide.get());
  CFDictionarySetValue(info.get(), CFSTR("true"), kCFBooleanTrue);
  const uint8_t bytes[] = {0, 1, 2, 255};
  CFRef<CFDataRef> data = CFRef<CFDataRef>::Adopt(CFDataCreate(nullptr, bytes, sizeof bytes));
  CFDictionarySetValue(info.get(), CFSTR("data"), data.get());
  CFRef<CFMutableArrayRef> array =
      CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  CFArrayAppendValue(array.get(), CFSTR("a"));
  CFArrayAppendValue(array.get(), Int(2).get());
  CFDictionarySetValue(info.get(), CFSTR("array"), array.get());
  CFRef<CFMutableDictionaryRef> inner = NewDict();
  CFDictionarySetValue(inner.get(), CFSTR("x"), Num(-2.5).get());
  CFDictionarySetValue(info.get(), CFSTR("dict"), inner.get());
  // Not transported: dropped on the way.
  CFRef<CFURLRef> url = CFRef<CFURLRef>::Adopt(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/tmp"), 0, true));
  CFDictionarySetValue(info.get(), CFSTR("url"), url.get());
  CFDictionarySetValue(info.get(), Int(5).get(), CFSTR("number key"));
  std::string error;
  int rc = QelvoNotificationCenterPost(center, CFSTR("Types"), CFSTR("types-object"), info.get(), &error);
  if (rc != 0) std::fprintf(stderr, "post failed: %d %s\n", rc, error.c_str());
  return rc == 0 ? 0 : 1;
}

// ---- signals written by hand -----------------------------------------------------

struct RawBus {
  sd_bus* bus = nullptr;
  RawBus() {
    if (sd_bus_open_user(&bus) < 0) {
      std::fprintf(stderr, "no bus\n");
      std::exit(1);
    }
  }
  ~RawBus() {
    sd_bus_flush(bus);
    sd_bus_close_unref(bus);
  }
  // Builds one signal with fill and sends it; fill returns < 0 on failure.
  void Send(const char* path, const std::function<int(sd_bus_message*)>& fill) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(bus, &m, path, kNotificationInterface, kNotificationMember);
    if (r >= 0) r = fill(m);
    if (r >= 0) r = sd_bus_send(bus, m, nullptr);
    sd_bus_message_unref(m);
    if (r < 0) {
      std::fprintf(stderr, "cannot send: %s\n", std::strerror(-r));
      std::exit(1);
    }
  }
  void Send(const std::function<int(sd_bus_message*)>& fill) { Send(kNotificationPath, fill); }
};

int OpenEntry(sd_bus_message* m, const char* key) {
  int r = sd_bus_message_open_container(m, 'e', "sv");
  return r < 0 ? r : sd_bus_message_append_basic(m, 's', key);
}

// {key: v(av(av(...(s))))} with depth array levels.
int AppendNested(sd_bus_message* m, const char* key, int depth) {
  int r = OpenEntry(m, key);
  for (int i = 0; r >= 0 && i < depth; ++i) {
    r = sd_bus_message_open_container(m, 'v', "av");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
  }
  if (r >= 0) r = sd_bus_message_append(m, "v", "s", "bottom");
  for (int i = 0; r >= 0 && i < depth; ++i) {
    r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int RawTypes() {
  RawBus raw;
  raw.Send([](sd_bus_message* m) {
    int r = sd_bus_message_append(m, "ss", "Types", "types-object");
    if (r >= 0)
      r = sd_bus_message_append(m, "a{sv}", 9, "s", "s", "text", "d", "d", 0.1, "i", "i", -5, "u", "u", 4000000000u,
                                "x", "x", INT64_MIN, "t", "t", UINT64_MAX, "t-small", "t", uint64_t{42}, "b", "b", 0,
                                "New Level", "d", 10.0);
    return r;
  });
  return 0;
}

std::string Huge() { return std::string(kNotificationMaxStringBytes + 1, 'h'); }

int Garbage() {
  RawBus raw;
  const std::string huge = Huge();
  // Whole notifications to drop.
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "s", "Bad short"); });
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{ss}", "Bad dict", "", 1, "k", "v"); });
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}i", "Bad extra", "", 0, 1); });
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "iia{sv}", 1, 2, 0); });
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "ssav", "Bad array", "", 0); });
  raw.Send("/elsewhere", [](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "Bad path", "", 0); });
  raw.Send([&](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", huge.c_str(), "", 0); });
  raw.Send([&](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "Bad object", huge.c_str(), 0); });
  // One notification whose bad entries are dropped and good ones kept.
  raw.Send([&](sd_bus_message* m) {
    int r = sd_bus_message_append(m, "ss", "Mixed", "");
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "ok", "s", "fine");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "New Level", "s", "ten");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "huge", "s", huge.c_str());
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", huge.c_str(), "s", "huge key");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "struct", "(ii)", 1, 2);
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "strings", "as", 2, "a", "b");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "dict-ss", "a{ss}", 1, "a", "b");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "byte", "y", 7);
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "int16", "n", 7);
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "variant", "v", "s", "inner");
    if (r >= 0) r = AppendNested(m, "deep", kNotificationMaxDepth + 4);
    if (r >= 0) r = AppendNested(m, "deepest-kept", kNotificationMaxDepth - 1);
    if (r >= 0) r = AppendNested(m, "first-dropped", kNotificationMaxDepth);
    if (r >= 0) {
      r = OpenEntry(m, "long-array");
      if (r >= 0) r = sd_bus_message_open_container(m, 'v', "av");
      if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
      for (size_t j = 0; r >= 0 && j <= kNotificationMaxElements; ++j) r = sd_bus_message_append(m, "v", "b", 1);
      for (int k = 0; r >= 0 && k < 3; ++k) r = sd_bus_message_close_container(m);
    }
    if (r >= 0) {
      std::string bytes(kNotificationMaxDataBytes + 1, 'b');
      r = OpenEntry(m, "big-data");
      if (r >= 0) r = sd_bus_message_open_container(m, 'v', "ay");
      if (r >= 0) r = sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
      for (int k = 0; r >= 0 && k < 2; ++k) r = sd_bus_message_close_container(m);
    }
    if (r >= 0) {
      // An array keeping its good elements only.
      r = OpenEntry(m, "mixed-array");
      if (r >= 0) r = sd_bus_message_open_container(m, 'v', "av");
      if (r >= 0) r = sd_bus_message_append(m, "av", 3, "s", "kept", "y", 1, "d", 2.0);
      for (int k = 0; r >= 0 && k < 2; ++k) r = sd_bus_message_close_container(m);
    }
    return r < 0 ? r : sd_bus_message_close_container(m);
  });
  raw.Send([](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "Sentinel", "", 0); });
  return 0;
}

std::atomic<int> sLocalDeliveries{0};

void CountLocal(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) { ++sLocalDeliveries; }

int Local() {
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  CFNotificationCenterAddObserver(center, nullptr, CountLocal, CFSTR("Local"), nullptr,
                                  CFNotificationSuspensionBehaviorDeliverImmediately);
  std::string error;
  int rc = QelvoNotificationCenterPost(center, CFSTR("Local"), nullptr, nullptr, &error);
  for (int i = 0; i < 500 && sLocalDeliveries.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a second delivery would show by now
  std::printf("connected=%d\npost=%d\nerror=%s\ndelivered=%d\n", QelvoNotificationCenterIsConnected(center) ? 1 : 0,
              rc, error.c_str(), sLocalDeliveries.load());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "post") return Post(argc, argv);
  if (mode == "post-types") return PostTypes();
  if (mode == "raw-types") return RawTypes();
  if (mode == "garbage") return Garbage();
  if (mode == "local") return Local();
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}
