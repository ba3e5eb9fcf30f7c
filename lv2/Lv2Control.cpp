#include "lv2/Lv2Control.h"

#include <pthread.h>
#include <semaphore.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include "platform/AudioUnitHost.h"

// One per plug-in library, for hosts without a worker: it sleeps on a
// semaphore until run() posts a change, then applies every pending instance.
class Lv2FallbackThread {
 public:
  Lv2FallbackThread() { sem_init(&wake_, 0, 0); }
  // The library is being unloaded: a host that never cleaned its instances
  // up still must not have the thread run on in unmapped code.
  ~Lv2FallbackThread() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    if (thread_.joinable()) {
      sem_post(&wake_);
      thread_.join();
    }
    sem_destroy(&wake_);
  }

  static Lv2FallbackThread& Get() {
    static Lv2FallbackThread thread;
    return thread;
  }

  void Register(Lv2Control* control) {
    std::lock_guard life(lifecycle_);
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
      stopping_ = false;
      thread_ = std::thread([this] { Loop(); });
      // Named, so a look at the process tells it from the host's threads.
      pthread_setname_np(thread_.native_handle(), kLv2FallbackThreadName);
    }
    members_.push_back(control);
  }

  void Unregister(Lv2Control* control) {
    std::lock_guard life(lifecycle_);
    std::thread ending;
    {
      std::lock_guard lock(mutex_);
      members_.erase(std::remove(members_.begin(), members_.end(), control), members_.end());
      if (members_.empty() && thread_.joinable()) {
        stopping_ = true;
        ending = std::move(thread_);
      }
    }
    // The last instance is gone: the thread ends before the library may be unloaded.
    if (ending.joinable()) {
      sem_post(&wake_);
      ending.join();
    }
  }

  // [render] sem_post neither allocates nor locks.
  void Wake() { sem_post(&wake_); }

 private:
  void Loop() {
    for (;;) {
      while (sem_wait(&wake_) != 0 && errno == EINTR) {
      }
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      for (Lv2Control* control : members_)
        if (control->pending_.exchange(false, std::memory_order_acq_rel)) control->Apply();
    }
  }

  sem_t wake_;
  std::mutex lifecycle_;  // one Register or Unregister at a time, join included
  std::mutex mutex_;      // members and stopping
  std::vector<Lv2Control*> members_;
  bool stopping_ = false;
  std::thread thread_;
};

Lv2Control::~Lv2Control() { Stop(); }

void Lv2Control::Start(AudioUnit unit, const LV2_Worker_Schedule* schedule) {
  unit_ = unit;
  schedule_ = schedule;
  if (schedule_ == nullptr) {
    Lv2FallbackThread::Get().Register(this);
    registered_ = true;
  }
}

void Lv2Control::Stop() {
  if (registered_) Lv2FallbackThread::Get().Unregister(this);
  registered_ = false;
  std::lock_guard lock(applyLock_);
  unit_ = nullptr;
}

void Lv2Control::Post(int32_t preset, bool bypass) {
  wantedPreset_.store(preset, std::memory_order_release);
  wantedBypass_.store(bypass ? 1 : 0, std::memory_order_release);
  const bool retry = retry_.load(std::memory_order_relaxed) && retry_.exchange(false, std::memory_order_acq_rel);
  if (!retry && preset == requestedPreset_ && (bypass ? 1 : 0) == requestedBypass_) return;
  if (schedule_ != nullptr) {
    // The message carries nothing: work() applies the latest wanted values.
    static constexpr uint32_t kToken = 1;
    if (schedule_->schedule_work(schedule_->handle, sizeof kToken, &kToken) != LV2_WORKER_SUCCESS) {
      if (retry) retry_.store(true, std::memory_order_release);
      return;
    }
  } else if (registered_) {
    pending_.store(true, std::memory_order_release);
    Lv2FallbackThread::Get().Wake();
  } else {
    return;
  }
  requestedPreset_ = preset;
  requestedBypass_ = bypass ? 1 : 0;
}

void Lv2Control::ResetAndApplyNow(int32_t preset, bool bypass) {
  wantedPreset_.store(preset, std::memory_order_release);
  wantedBypass_.store(bypass ? 1 : 0, std::memory_order_release);
  requestedPreset_ = preset;
  requestedBypass_ = bypass ? 1 : 0;
  std::lock_guard lock(applyLock_);
  if (unit_ == nullptr) return;
  AudioUnitReset(unit_, kAudioUnitScope_Global, 0);
  ApplyLocked();
}

void Lv2Control::Work() { Apply(); }

void Lv2Control::Apply() {
  std::lock_guard lock(applyLock_);
  ApplyLocked();
}

void Lv2Control::ApplyLocked() {
  if (unit_ == nullptr) return;
  bool applied = true;
  const int32_t preset = wantedPreset_.load(std::memory_order_acquire);
  if (preset >= 0 && preset != appliedPreset_) {
    AUPreset value{preset, nullptr};
    if (AudioUnitSetProperty(unit_, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &value,
                             sizeof value) == noErr)
      appliedPreset_ = preset;
    else
      applied = false;
  }
  const int32_t bypass = wantedBypass_.load(std::memory_order_acquire);
  if (bypass != appliedBypass_) {
    UInt32 value = static_cast<UInt32>(bypass);
    if (AudioUnitSetProperty(unit_, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &value,
                             sizeof value) == noErr)
      appliedBypass_ = bypass;
    else
      applied = false;
  }
  if (!applied) retry_.store(true, std::memory_order_release);
}
