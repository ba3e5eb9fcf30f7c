#include "tools/qelvo/Interrupt.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
volatile sig_atomic_t gInterrupted = 0;
void OnSignal(int) { gInterrupted = 1; }
}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return gInterrupted != 0; }

bool SleepUnlessInterrupted(double seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (!Interrupted()) {
    const Clock::time_point now = Clock::now();
    if (now >= end) return true;
    const Clock::duration left = end - now;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
  }
  return false;
}
