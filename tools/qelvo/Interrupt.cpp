#include "tools/qelvo/Interrupt.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Everything the handler touches is lock-free atomics or plain bytes
// published through them, and it calls only unlink and _exit.
std::atomic<int> gCaughtSignal{0};
std::atomic<bool> gGraceful{false};

struct Slot {
  std::atomic<bool> armed{false};
  char path[PATH_MAX];
};
constexpr int kSlots = 8;
Slot gSlots[kSlots];
std::mutex gSlotsMutex;  // registrations only; never taken by the handler
bool gSlotUsed[kSlots];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

[[noreturn]] void RemoveFilesAndExit(int signal) {
  for (Slot& s : gSlots)
    if (s.armed.load()) unlink(s.path);
  _exit(128 + signal);
}

void OnSignal(int signal) {
  int none = 0;
  if (signal != SIGHUP && gGraceful.load() && gCaughtSignal.compare_exchange_strong(none, signal)) return;
  RemoveFilesAndExit(signal);
}

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Blocked while one runs, so two signals never clean up at once.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    // Restarted system calls keep a slow write going; the flag is polled.
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction previous {};
      sigaction(signal, nullptr, &previous);
      // A signal the shell set to be ignored (a background job) stays ignored.
      if (previous.sa_handler == SIG_IGN) continue;
      sigaction(signal, &action, nullptr);
    }
  });
}

}  // namespace

void CatchInterrupts() {
  gGraceful.store(true);
  InstallHandlers();
}

bool Interrupted() { return gCaughtSignal.load() != 0; }

int InterruptSignal() { return gCaughtSignal.load(); }

int InterruptExitStatus() { return 128 + gCaughtSignal.load(); }

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

FileRemovedOnAbort::FileRemovedOnAbort(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  InstallHandlers();
  std::lock_guard<std::mutex> lock(gSlotsMutex);
  for (int i = 0; i < kSlots; ++i) {
    if (gSlotUsed[i]) continue;
    gSlotUsed[i] = true;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].armed.store(true);  // publishes the path to the handler
    slot_ = i;
    return;
  }
}

FileRemovedOnAbort::~FileRemovedOnAbort() {
  if (slot_ < 0) return;
  gSlots[slot_].armed.store(false);
  std::lock_guard<std::mutex> lock(gSlotsMutex);
  gSlotUsed[slot_] = false;
}
