// Preset and bypass changes of an LV2 instance, applied off the audio thread:
// they go through property calls that may allocate or notify listeners.
// run() only posts the wanted values; the host's worker applies them when
// the host offers one (work:schedule), otherwise one thread shared by every
// instance of the plug-in library, which sleeps until run() posts a change.
#pragma once

#include <lv2/worker/worker.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/AudioTypes.h"

// The name of the shared thread of hosts without a worker.
inline constexpr const char* kLv2FallbackThreadName = "qelvo-lv2-ctl";

// Threads as LV2 names them: instantiation functions are [control], run() is
// [render], the host's worker thread (work()) is a [control] thread too.
class Lv2Control {
 public:
  // [control] Part of the instance.
  Lv2Control() = default;
  Lv2Control(const Lv2Control&) = delete;
  Lv2Control& operator=(const Lv2Control&) = delete;
  ~Lv2Control();

  // [control; instantiated] Starts serving unit; schedule is the host's
  // worker, or null.
  void Start(AudioUnit unit, const LV2_Worker_Schedule* schedule);
  // [control] Stops serving the unit; no call applies anything afterwards.
  void Stop();

  // [render; active] Records the wanted values and, when they changed since
  // the last request, asks the worker or the shared thread to apply them.
  // Neither allocates nor locks; without a host worker a change costs one
  // semaphore post.
  void Post(int32_t preset, bool bypass);
  // [control; activating] Resets the unit and applies the values at once
  // (activate: the first block already runs with them). Never concurrent
  // with run(); under the apply lock, so a change the worker or the shared
  // thread is applying does not meet the reset (the unit would refuse one of
  // them as busy).
  void ResetAndApplyNow(int32_t preset, bool bypass);
  // [control] The host worker's work() for this instance, on its worker thread.
  void Work();

 private:
  friend class Lv2FallbackThread;
  void Apply();
  // A value the unit refused (busy with run()'s own calls) is asked for again.
  void ApplyLocked();

  AudioUnit unit_ = nullptr;
  const LV2_Worker_Schedule* schedule_ = nullptr;
  bool registered_ = false;

  std::atomic<int32_t> wantedPreset_{-1};
  std::atomic<int32_t> wantedBypass_{0};
  // What run() last asked to be applied (render thread only).
  int32_t requestedPreset_ = -1;
  int32_t requestedBypass_ = 0;
  // Set by run(), taken by the shared thread.
  std::atomic<bool> pending_{false};
  // Set when the unit refused a value: run() asks again on its next block,
  // or the change would be lost (run() only asks when the values change).
  std::atomic<bool> retry_{false};

  // Held while applying: activate, the worker and the shared thread never
  // change the unit at the same time. run() never takes it.
  std::mutex applyLock_;
  int32_t appliedPreset_ = -1;
  int32_t appliedBypass_ = 0;
};
