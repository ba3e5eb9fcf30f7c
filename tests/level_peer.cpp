// The other process of the level tests: an analyser stand-in that posts level
// notifications, and a loader of the listener module that never registers.
//
//   level_peer post NAME OBJECT [KEY=T:VALUE]...  one notification through the centre;
//                                                T is s (string), i (32-bit int),
//                                                f (32-bit float) or d (64-bit float)
//   level_peer malformed                          broken level signals written by hand
// post and malformed end with "Level Test Done" on the same connection, so the
// observer knows everything before it has been delivered.
//   level_peer load-unused MODULE                 loads and unloads MODULE without
//                                                registering; fails if that started the centre
#include <dirent.h>
#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "platform/CFRef.h"
#include "platform/NotificationWire.h"
#include "platform/Notifications.h"

namespace {

constexpr const char* kLevelName = "Kest Level Changed Notification";

CFRef<CFTypeRef> MakeValue(char type, const char* text) {
  switch (type) {
    case 's':
      return CFRef<CFTypeRef>::Adopt(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
    case 'i': {
      int32_t v = int32_t(std::strtol(text, nullptr, 10));
      return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt32Type, &v));
    }
    case 'f': {
      float v = std::strtof(text, nullptr);
      return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat32Type, &v));
    }
    case 'd': {
      double v = std::strtod(text, nullptr);
      return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &v));
    }
  }
  return {};
}

int Post(int argc, char** argv) {
  if (argc < 4) return 2;
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (int i = 4; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (eq == nullptr || eq[1] == '\0' || eq[2] != ':') return 2;
    CFRef<CFStringRef> key = CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(
        nullptr, reinterpret_cast<const uint8_t*>(argv[i]), eq - argv[i], kCFStringEncodingUTF8, false));
    CFRef<CFTypeRef> value = MakeValue(eq[1], eq + 3);
    if (!value) return 2;
    CFDictionarySetValue(info.get(), key.get(), value.get());
  }
  CFRef<CFStringRef> name = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, argv[2], kCFStringEncodingUTF8));
  CFRef<CFStringRef> object =
      CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, argv[3], kCFStringEncodingUTF8));
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  std::string error;
  int rc = QelvoNotificationCenterPost(center, name.get(), std::strlen(argv[3]) > 0 ? object.get() : nullptr,
                                       CFDictionaryGetCount(info.get()) > 0 ? info.get() : nullptr, &error);
  if (rc == 0) rc = QelvoNotificationCenterPost(center, CFSTR("Level Test Done"), nullptr, nullptr, &error);
  if (rc != 0) std::fprintf(stderr, "post failed: %d %s\n", rc, error.c_str());
  return rc == 0 ? 0 : 1;
}

// Each of these would map a level of 50 for "BS7V0" if it were taken as a
// level notification.
int Malformed() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 1;
  int failures = 0;
  auto send = [&](const char* path, const char* interface, const std::function<int(sd_bus_message*)>& fill) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(bus, &m, path, interface, kNotificationMember);
    if (r >= 0) r = fill(m);
    if (r >= 0) r = sd_bus_send(bus, m, nullptr);
    sd_bus_message_unref(m);
    failures += r < 0;
  };
  const char* path = kNotificationPath;
  const char* iface = kNotificationInterface;
  // User info as strings only.
  send(path, iface, [](sd_bus_message* m) {
    return sd_bus_message_append(m, "ssa{ss}", kLevelName, "", 2, "Kest Symbol", "BS7V0", "New Level", "50");
  });
  // A trailing extra argument.
  send(path, iface, [](sd_bus_message* m) {
    return sd_bus_message_append(m, "ssa{sv}i", kLevelName, "", 2, "Kest Symbol", "s", "BS7V0", "New Level", "d",
                                 50.0, 1);
  });
  // The name alone.
  send(path, iface, [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kLevelName); });
  // Well formed, but on another path and on another interface.
  auto good = [](sd_bus_message* m) {
    return sd_bus_message_append(m, "ssa{sv}", kLevelName, "", 2, "Kest Symbol", "s", "BS7V0", "New Level", "d",
                                 50.0);
  };
  send("/elsewhere", iface, good);
  send(path, "io.qelvo.Elsewhere", good);
  send(path, iface, [](sd_bus_message* m) { return sd_bus_message_append(m, "ssa{sv}", "Level Test Done", "", 0); });
  sd_bus_flush(bus);
  sd_bus_close_unref(bus);
  return failures == 0 ? 0 : 1;
}

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The centre starts a delivery thread when it first opens; unloading a
// module that never registered must not start it.
int LoadUnused(int argc, char** argv) {
  if (argc < 3) return 2;
  const int before = ThreadCount();
  void* module = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  dlclose(module);
  const int after = ThreadCount();
  if (after != before) std::fprintf(stderr, "threads: %d before, %d after\n", before, after);
  return after == before ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "post") return Post(argc, argv);
  if (mode == "malformed") return Malformed();
  if (mode == "load-unused") return LoadUnused(argc, argv);
  return 2;
}
