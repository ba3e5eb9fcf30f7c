#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "framework/AURenderCallback.h"
#include "framework/TThreadSafeList.h"
#include "support/RenderNotifyStubs.h"

namespace {

using List = RenderCallbackList;

// Registration `slot` of poster `thread`: user data values never shared
// between posters, so each poster's outcome can be predicted on its own.
RenderCallback Registration(int thread, int slot) {
  auto data = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + thread * 0x100 + slot / 2));
  return {slot % 2 ? Notify2 : Notify1, data};
}

// Counts node allocations, from any thread.
struct CountingHeap {
  static inline std::atomic<int> sAllocations{0};
  static void* Alloc(size_t n) {
    sAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n);
  }
  CountingHeap() {
    sAllocations = 0;
    List::sAllocNode = &Alloc;
  }
  ~CountingHeap() { List::sAllocNode = &List::DefaultAlloc; }
};

// Applies one poster's requests the way the list does, in posting order.
void Model(std::vector<RenderCallback>& list, bool add, const RenderCallback& r) {
  auto at = std::find(list.begin(), list.end(), r);
  if (add && at == list.end()) list.push_back(r);
  if (!add && at != list.end()) list.erase(at);
}

constexpr int kRequests = 20000;

// Posters add and remove their own registrations while a render thread keeps
// applying and walking the list. Returns the number of nodes allocated.
int Stress(int posters) {
  constexpr int kSlots = 12;

  CountingHeap heap;
  List list;
  std::atomic<int> postersDone{0};
  std::vector<std::vector<RenderCallback>> expected(posters);

  std::atomic<bool> renderFault{false};
  std::atomic<int> renderPasses{0};
  std::thread render([&] {
    auto walk = [&] {
      list.update();
      std::set<std::pair<void*, void*>> seen;
      for (const RenderCallback& r : list) {
        if (!seen.insert({reinterpret_cast<void*>(r.mRenderNotify), r.mRenderNotifyRefCon}).second)
          renderFault = true;
      }
      renderPasses.fetch_add(1);
    };
    while (postersDone.load() < posters) walk();
    walk();
  });

  std::vector<std::thread> threads;
  for (int t = 0; t < posters; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(1234 + t);
      for (int i = 0; i < kRequests; ++i) {
        // Keep posting and rendering interleaved, as a running host does,
        // so that nodes travel through the pool while posters take them.
        if (i % 256 == 0) {
          const int seen = renderPasses.load();
          while (renderPasses.load() == seen) std::this_thread::yield();
        }
        const RenderCallback r = Registration(t, static_cast<int>(rng() % kSlots));
        const bool add = rng() % 5 < 3;  // lean towards adds so the list fills up
        EXPECT_TRUE(add ? list.deferred_add(r) : list.deferred_remove(r));
        Model(expected[t], add, r);
      }
      postersDone.fetch_add(1);
    });
  }
  for (std::thread& p : threads) p.join();
  render.join();

  EXPECT_FALSE(renderFault) << "a registration appeared twice during a walk";

  // Each poster's registrations are there, once, in the order its own
  // requests leave them.
  const std::vector<RenderCallback> final(list.begin(), list.end());
  size_t total = 0;
  for (int t = 0; t < posters; ++t) {
    std::vector<RenderCallback> mine;
    for (const RenderCallback& r : final)
      if (reinterpret_cast<uintptr_t>(r.mRenderNotifyRefCon) / 0x100 == 0x10u + t) mine.push_back(r);
    EXPECT_EQ(mine, expected[t]) << "poster " << t;
    total += expected[t].size();
  }
  EXPECT_EQ(final.size(), total);

  // Every node ever allocated is either in the list or back in the pool.
  EXPECT_EQ(static_cast<size_t>(heap.sAllocations.load()), final.size() + list.free_count());
  return heap.sAllocations.load();
}

TEST(ThreadSafeListConcurrency, OnePosterRunsOnRecycledNodes) {
  // Between two render passes at most a few hundred requests are in flight.
  EXPECT_LT(Stress(1), 1000);
}

TEST(ThreadSafeListConcurrency, SeveralPostersLoseAndDuplicateNothing) {
  // Posters racing for the pool may find it momentarily detached by another
  // and allocate, so only the node balance is checked here.
  Stress(3);
}

TEST(ThreadSafeListConcurrency, ConcurrentAddsAllArrive) {
  constexpr int kPosters = 3;
  constexpr int kEach = 200;
  List list;
  std::atomic<bool> go{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < kPosters; ++t) {
    posters.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) list.deferred_add(Registration(t, i));
    });
  }
  go = true;
  for (std::thread& p : posters) p.join();
  list.update();

  std::set<std::pair<void*, void*>> seen;
  for (const RenderCallback& r : list)
    seen.insert({reinterpret_cast<void*>(r.mRenderNotify), r.mRenderNotifyRefCon});
  EXPECT_EQ(seen.size(), static_cast<size_t>(kPosters * kEach));
  EXPECT_EQ(static_cast<size_t>(std::distance(list.begin(), list.end())), seen.size());
}

}  // namespace
