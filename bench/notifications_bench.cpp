// Notification delivery between processes on a private session bus: latency
// from the post in one process to the observer's call in another, and a
// sustained rate with every notification counted. Also the in-process path
// (post to an observer of the same process). Each cross-process run is one
// iteration; the figures are the counters.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/CFRef.h"
#include "platform/Notifications.h"
#include "support/PrivateBus.h"

namespace {

int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The bus comes up before the centre is first used, and goes at exit.
CFNotificationCenterRef Center() {
  static PrivateBus bus;
  return CFNotificationCenterGetDistributedCenter();
}

int64_t Int(CFDictionaryRef info, CFStringRef key) {
  int64_t value = -1;
  CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(info, key)), kCFNumberSInt64Type, &value);
  return value;
}

// Latency of each notification by its index; -1 until it arrives.
struct Arrivals {
  std::vector<int64_t> latencyNs;
  std::atomic<long> received{0};
  std::atomic<long> duplicates{0};

  explicit Arrivals(long count) : latencyNs(size_t(count), -1) {}

  static void Callback(CFNotificationCenterRef, void* observer, CFStringRef, const void*, CFDictionaryRef info) {
    int64_t now = NowNs();
    auto* self = static_cast<Arrivals*>(observer);
    int64_t index = Int(info, CFSTR("Index"));
    if (index < 0 || size_t(index) >= self->latencyNs.size()) return;
    if (self->latencyNs[size_t(index)] >= 0) ++self->duplicates;
    self->latencyNs[size_t(index)] = now - Int(info, CFSTR("Sent"));
    ++self->received;
  }
};

// CPU time of this whole process (delivery thread included), in microseconds.
double ProcessCpuUs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double PercentileUs(std::vector<int64_t> sorted, double p) {
  if (sorted.empty()) return 0;
  size_t i = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
  return double(sorted[i]) / 1000.0;
}

// Runs the poster for count notifications at rate per second, then waits for
// stragglers, and reports latency percentiles and losses.
void RunCrossProcess(benchmark::State& state, long count, double rate) {
  CFNotificationCenterRef center = Center();
  for (auto _ : state) {
    Arrivals arrivals(count);
    CFNotificationCenterAddObserver(center, &arrivals, Arrivals::Callback, CFSTR("Kest Level Changed Notification"),
                                    nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    // The bus confirms the observation in the background.
    QelvoNotificationCenterWaitUntilConnected(center, 10, nullptr);
    std::string command = std::string(QELVO_NOTIFICATIONS_POSTER) + " " + std::to_string(count) + " " +
                          std::to_string(rate);
    long sent = 0;
    const double cpuBefore = ProcessCpuUs();
    if (FILE* poster = popen(command.c_str(), "r")) {
      if (std::fscanf(poster, "%ld", &sent) != 1) sent = 0;
      pclose(poster);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (arrivals.received.load() < sent && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    CFNotificationCenterRemoveEveryObserver(center, &arrivals);
    const double cpuUs = ProcessCpuUs() - cpuBefore;

    std::vector<int64_t> latencies;
    for (int64_t ns : arrivals.latencyNs)
      if (ns >= 0) latencies.push_back(ns);
    std::sort(latencies.begin(), latencies.end());
    state.counters["sent"] = double(sent);
    state.counters["received"] = double(arrivals.received.load());
    state.counters["lost"] = double(count - long(latencies.size()));
    state.counters["duplicates"] = double(arrivals.duplicates.load());
    state.counters["median_us"] = PercentileUs(latencies, 0.50);
    state.counters["p99_us"] = PercentileUs(latencies, 0.99);
    // Receiving side: bus reads, decoding and the observer call.
    state.counters["cpu_us_each"] = arrivals.received.load() > 0 ? cpuUs / double(arrivals.received.load()) : 0;
    state.counters["max_us"] = latencies.empty() ? 0 : double(latencies.back()) / 1000.0;
  }
}

// 10,000 notifications, one every 200 us: latency of a lightly loaded bus.
void BM_CrossProcessLatency(benchmark::State& state) { RunCrossProcess(state, 10'000, 5'000); }
BENCHMARK(BM_CrossProcessLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10,000 a second for 10 seconds, every one counted.
void BM_CrossProcessSustained10kPerSecond(benchmark::State& state) { RunCrossProcess(state, 100'000, 10'000); }
BENCHMARK(BM_CrossProcessSustained10kPerSecond)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Post here, observed here: through the local queue to the delivery thread.
void BM_InProcessPostToObserver(benchmark::State& state) {
  CFNotificationCenterRef center = Center();
  std::atomic<long> delivered{0};
  CFNotificationCenterAddObserver(
      center, &delivered,
      [](CFNotificationCenterRef, void* o, CFStringRef, const void*, CFDictionaryRef) {
        auto* count = static_cast<std::atomic<long>*>(o);
        count->fetch_add(1, std::memory_order_release);
        count->notify_one();
      },
      CFSTR("Local Level"), nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
  CFRef<CFMutableDictionaryRef> info = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  double level = 10.0;
  CFRef<CFNumberRef> number = CFRef<CFNumberRef>::Adopt(CFNumberCreate(nullptr, kCFNumberFloat64Type, &level));
  CFDictionarySetValue(info.get(), CFSTR("Kest Symbol"), CFSTR("BS7V0"));
  CFDictionarySetValue(info.get(), CFSTR("New Level"), number.get());
  long expected = 0;
  for (auto _ : state) {
    QelvoNotificationCenterPost(center, CFSTR("Local Level"), nullptr, info.get(), nullptr);
    ++expected;
    // Sleeps rather than spins: on two cores a spinning poster would
    // compete with the delivery thread it waits for.
    for (long seen = delivered.load(std::memory_order_acquire); seen < expected;
         seen = delivered.load(std::memory_order_acquire))
      delivered.wait(seen, std::memory_order_acquire);
  }
  CFNotificationCenterRemoveEveryObserver(center, &delivered);
}
BENCHMARK(BM_InProcessPostToObserver)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
