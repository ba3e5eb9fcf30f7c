#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/CFRef.h"
#include "platform/Values.h"

namespace {

constexpr int kThreads = 8;

std::atomic<int> gDestroyed{0};
void CountDestroy(CFAllocatorRef, const void*) { gDestroyed.fetch_add(1); }

template <class Body>
void RunThreads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (auto& th : threads) th.join();
}

}  // namespace

TEST(ValueConcurrency, RetainReleaseHammerKeepsTheCount) {
  auto s = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "shared", kCFStringEncodingASCII));
  RunThreads([&](int) {
    for (int i = 0; i < 20000; ++i) {
      CFRetain(s.get());
      CFRetain(s.get());
      CFRelease(s.get());
      CFRelease(s.get());
    }
  });
  EXPECT_EQ(CFGetRetainCount(s.get()), 1);
}

TEST(ValueConcurrency, LastReleaseOnAnyThreadDestroysExactlyOnce) {
  // The array's element release runs only when the array itself is destroyed,
  // so it counts destructions; the dictionary built by one thread is read by
  // whichever thread destroys it.
  CFArrayCallBacks callBacks = {0, nullptr, CountDestroy, nullptr, nullptr};
  static const int marker = 0;
  gDestroyed = 0;
  constexpr int kRounds = 300;
  for (int round = 0; round < kRounds; ++round) {
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 1, &callBacks);
    CFArrayAppendValue(array, &marker);
    for (int t = 1; t < kThreads; ++t) CFRetain(array);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        EXPECT_EQ(CFArrayGetCount(array), 1);
        CFRelease(array);
      });
    }
    go = true;  // all release at about the same time
    for (auto& th : threads) th.join();
  }
  EXPECT_EQ(gDestroyed.load(), kRounds);
}

TEST(ValueConcurrency, SharedImmutableValuesAreReadFromManyThreads) {
  auto dict = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  double level = 10;
  auto number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &level));
  CFDictionarySetValue(dict.get(), CFSTR("New Level"), number.get());
  CFDictionarySetValue(dict.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));

  std::atomic<int> matches{0};
  RunThreads([&](int t) {
    for (int i = 0; i < 2000; ++i) {
      // Each thread keeps its own reference while it reads, as a listener would.
      auto held = CFRef<CFDictionaryRef>::Retain(dict.get());
      auto symbol = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, "BS7V0", kCFStringEncodingASCII));
      double v = 0;
      CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(held.get(), CFSTR("New Level"))),
                       kCFNumberDoubleType, &v);
      if (v == 10 && CFEqual(CFDictionaryGetValue(held.get(), CFSTR("Kest Symbol")), symbol.get())) ++matches;
      // Interning from many threads at once yields one object per text.
      const std::string text = "thread text " + std::to_string((t + i) % 5);
      EXPECT_EQ(CFStringMakeConstantString(text.c_str()), CFStringMakeConstantString(text.c_str()));
    }
  });
  EXPECT_EQ(matches.load(), kThreads * 2000);
  EXPECT_EQ(CFGetRetainCount(dict.get()), 1);
  EXPECT_EQ(CFGetRetainCount(number.get()), 2);
}
