// Waits for a condition that another thread or process brings about, looking
// every few milliseconds; false when it has not come about in time.
#pragma once

#include <chrono>
#include <thread>

template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
