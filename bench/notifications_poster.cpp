// The posting process of the notification benchmark: posts COUNT level
// notifications at RATE per second on an absolute schedule (catching up
// after a late wake-up), each stamped with its sending time.
//
//   notifications_poster COUNT RATE
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/CFRef.h"
#include "platform/Notifications.h"

namespace {

int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

CFRef<CFNumberRef> Number(CFNumberType type, const void* value) {
  return CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, type, value));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const long count = std::atol(argv[1]);
  const double rate = std::atof(argv[2]);
  CFNotificationCenterRef center = CFNotificationCenterGetDistributedCenter();
  const double level = 10.0;
  CFRef<CFNumberRef> levelNumber = Number(kCFNumberFloat64Type, &level);
  const int64_t start = NowNs() + 1'000'000;
  long failures = 0;
  for (long i = 0; i < count; ++i) {
    int64_t due = start + int64_t(double(i) * 1e9 / rate);
    timespec at{time_t(due / 1'000'000'000), long(due % 1'000'000'000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
        CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    int64_t index = i, sent = NowNs();
    CFRef<CFNumberRef> indexNumber = Number(kCFNumberSInt64Type, &index);
    CFRef<CFNumberRef> sentNumber = Number(kCFNumberSInt64Type, &sent);
    CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));
    CFDictionarySetValue(info.get(), CFSTR("New Level"), levelNumber.get());
    CFDictionarySetValue(info.get(), CFSTR("Index"), indexNumber.get());
    CFDictionarySetValue(info.get(), CFSTR("Sent"), sentNumber.get());
    std::string error;
    if (QelvoNotificationCenterPost(center, CFSTR("Kest Level Changed Notification"), nullptr, info.get(), &error) != 0) {
      if (failures++ == 0) std::fprintf(stderr, "post failed: %s\n", error.c_str());
    }
  }
  std::printf("%ld\n", count - failures);
  return failures == 0 ? 0 : 1;
}
