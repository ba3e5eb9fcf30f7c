// A value that one thread may write while another reads it, taken whole with
// relaxed ordering: no tearing, no ordering promise, no lock. Copyable, so it
// can sit in maps and vectors; a copy reads the source once.
#pragma once

#include <atomic>

// [any] Every member, on any thread.
template <typename T>
class TRelaxedAtomic {
 public:
  TRelaxedAtomic(T value = T()) noexcept : mValue(value) {}  // NOLINT: converts like T
  TRelaxedAtomic(const TRelaxedAtomic& other) noexcept : mValue(other.load()) {}
  TRelaxedAtomic& operator=(const TRelaxedAtomic& other) noexcept {
    store(other.load());
    return *this;
  }
  T operator=(T value) noexcept {
    store(value);
    return value;
  }
  operator T() const noexcept { return load(); }  // NOLINT: reads like T

  T load() const noexcept { return mValue.load(std::memory_order_relaxed); }
  void store(T value) noexcept { mValue.store(value, std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<T>::is_always_lock_free, "must be usable on the render path");
  std::atomic<T> mValue;
};
