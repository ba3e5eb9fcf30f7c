// Allocates inside a function the real-time sanitizer treats as real-time:
// a host run with --canary must be killed, which shows the check is armed.
#pragma once

namespace rtsan_canary {

__attribute__((noinline)) inline int* Allocate() { return new int(1); }

inline int Canary() [[clang::nonblocking]] {
  int* volatile p = Allocate();
  const int value = *p;
  delete p;
  return value;
}

}  // namespace rtsan_canary
