// Which thread is inside one side of a unit (its render, or its control
// calls) right now. Entering never waits: a thread that finds another thread
// inside is refused, and the unit answers kQelvoErr_UnitBusy instead of
// corrupting its state. The thread inside may enter again (a property
// listener calling back into the unit, a render observer scheduling
// parameters). Costs one compare-and-swap to enter and one store to leave;
// no lock, no allocation, no system call, so the render path may use it.
#pragma once

#include <pthread.h>

#include <atomic>

// [any] on every call: that is its purpose.
class AUCallOwner {
 public:
  // True when the calling thread is now inside (first entry or nested).
  bool TryEnter() noexcept {
    // pthread_self reads the thread pointer; no system call. Never 0 on Linux.
    const pthread_t self = pthread_self();
    pthread_t expected{};
    if (mOwner.compare_exchange_strong(expected, self, std::memory_order_acquire)) {
      mDepth = 1;
      return true;
    }
    if (expected != self) return false;
    ++mDepth;
    return true;
  }

  // Only after a TryEnter that answered true, on the same thread.
  void Leave() noexcept {
    if (--mDepth == 0) mOwner.store(pthread_t{}, std::memory_order_release);
  }

  // Whether a thread other than the caller is inside right now. A relaxed
  // read that may be stale by the time it returns: good for debug checks of
  // the thread contract, not for deciding anything.
  bool HeldByOtherThread() const noexcept {
    const pthread_t owner = mOwner.load(std::memory_order_relaxed);
    return owner != pthread_t{} && owner != pthread_self();
  }

 private:
  static_assert(std::atomic<pthread_t>::is_always_lock_free);
  std::atomic<pthread_t> mOwner{};
  unsigned mDepth = 0;  // touched only by the thread inside
};

// [any] Enters for the length of a scope; test Entered() before going on.
class AUCallScope {
 public:
  explicit AUCallScope(AUCallOwner& owner) noexcept : mOwner(owner), mEntered(owner.TryEnter()) {}
  ~AUCallScope() {
    if (mEntered) mOwner.Leave();
  }
  AUCallScope(const AUCallScope&) = delete;
  AUCallScope& operator=(const AUCallScope&) = delete;

  bool Entered() const noexcept { return mEntered; }

 private:
  AUCallOwner& mOwner;
  const bool mEntered;
};
