// Holds one reference to a value and gives it back on destruction. Adopt takes
// over a reference the caller already owns (a Create or Copy result); Retain
// takes a new one. Copies retain, moves transfer.
#pragma once

#include <utility>

#include "platform/Values.h"

template <class T>
class CFRef {
 public:
  CFRef() = default;
  CFRef(std::nullptr_t) {}
  static CFRef Adopt(T value) {
    CFRef ref;
    ref.value_ = value;
    return ref;
  }
  static CFRef Retain(T value) {
    if (value != nullptr) CFRetain(value);
    return Adopt(value);
  }

  CFRef(const CFRef& other) : value_(other.value_) {
    if (value_ != nullptr) CFRetain(value_);
  }
  CFRef(CFRef&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~CFRef() {
    if (value_ != nullptr) CFRelease(value_);
  }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }

  // Hands the reference to the caller; the holder is left empty.
  [[nodiscard]] T release() { return std::exchange(value_, nullptr); }
  // Drops the held reference and adopts value (already owned by the caller).
  void reset(T value = nullptr) {
    T old = std::exchange(value_, value);
    if (old != nullptr) CFRelease(old);
  }
  // For out-parameters of Create/Copy-style calls: empties the holder and
  // returns where the callee stores the reference it hands over.
  T* receive() {
    reset();
    return &value_;
  }

 private:
  T value_ = nullptr;
};
