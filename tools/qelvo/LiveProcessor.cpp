#include "tools/qelvo/LiveProcessor.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/AudioUnitHost.h"
#include "tools/qelvo/StatusNames.h"
#include "tools/qelvo/ToolError.h"
#include "utility/CAStreamBasicDescription.h"

namespace {

// The same clock as the graph's deadlines. Read through the vDSO: no system call.
uint64_t NowNs() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

void RaiseToAtLeast(std::atomic<uint64_t>& value, uint64_t candidate) noexcept {
  uint64_t seen = value.load(std::memory_order_relaxed);
  while (candidate > seen && !value.compare_exchange_weak(seen, candidate, std::memory_order_relaxed)) {
  }
}

void RaiseToAtLeast(std::atomic<double>& value, double candidate) noexcept {
  double seen = value.load(std::memory_order_relaxed);
  while (candidate > seen && !value.compare_exchange_weak(seen, candidate, std::memory_order_relaxed)) {
  }
}

void Set(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope, const void* data, UInt32 size,
         const char* what) {
  const OSStatus status = AudioUnitSetProperty(unit, id, scope, 0, data, size);
  if (status != noErr) throw ToolError(std::string("the plug-in refuses ") + what + ": " + StatusName(status));
}

}  // namespace

LiveProcessor::LiveProcessor(AudioUnit unit) : unit_(unit) {}

LiveProcessor::~LiveProcessor() {
  if (channels_ != 0) AudioUnitUninitialize(unit_);
}

void LiveProcessor::Pause() {
  running_.store(false);
  // Either a Process call sees running_ false, or this sees it in flight and
  // waits it out (both sides sequentially consistent).
  while (inProcess_.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void LiveProcessor::Resume() { running_.store(channels_ != 0); }

void LiveProcessor::Configure(double sampleRate, uint32_t channels) {
  if (channels == 0 || channels > kLiveMaxChannels)
    throw ToolError("qelvo live handles 1 to " + std::to_string(kLiveMaxChannels) + " channels, not " +
                    std::to_string(channels));
  {
    std::lock_guard<std::mutex> lock(timeMutex_);
    if (sampleRate_ > 0) secondsBefore_ += static_cast<double>(frames_.load()) / sampleRate_;
    frames_.store(0);
  }
  if (channels_ != 0) AudioUnitUninitialize(unit_);
  channels_ = 0;

  const CAStreamBasicDescription format = CAStreamBasicDescription::Canonical(sampleRate, channels);
  const std::string what = std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") + " at " +
                           std::to_string(static_cast<long long>(sampleRate)) + " Hz";
  Set(unit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, &format, sizeof format, what.c_str());
  Set(unit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, &format, sizeof format, what.c_str());
  const UInt32 maxFrames = kLiveMaxSliceFrames;
  Set(unit_, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, &maxFrames, sizeof maxFrames,
      "the slice length");
  // Not in place: the unit then only reads the buffers it is handed, so it
  // gets the graph's input buffers themselves and writes into the output ones.
  const UInt32 inPlace = 0;
  Set(unit_, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, &inPlace, sizeof inPlace,
      "processing out of place");
  AURenderCallbackStruct callback{&LiveProcessor::FeedInput, this};
  Set(unit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, &callback, sizeof callback,
      "its input callback");
  const OSStatus status = AudioUnitInitialize(unit_);
  if (status != noErr) throw ToolError("the plug-in cannot start with " + what + ": " + StatusName(status));

  silence_.assign(kLiveMaxSliceFrames, 0.0f);
  sampleRate_ = sampleRate;
  channels_ = channels;
  sampleTime_ = 0;
  haveExpected_ = false;
}

OSStatus LiveProcessor::FeedInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                                  UInt32 frames, AudioBufferList* data) {
  auto* self = static_cast<LiveProcessor*>(refCon);
  if (data == nullptr || frames > kLiveMaxSliceFrames) return paramErr;
  const UInt32 buffers = std::min<UInt32>(data->mNumberBuffers, self->channels_);
  for (UInt32 c = 0; c < buffers; ++c) {
    AudioBuffer& b = data->mBuffers[c];
    // The unit only reads its input here, so the silence is never written.
    const float* source = self->sliceIn_[c] != nullptr ? self->sliceIn_[c] : self->silence_.data();
    b.mData = const_cast<float*>(source);
    b.mDataByteSize = frames * sizeof(float);
  }
  return noErr;
}

void LiveProcessor::Process(const float* const* in, float* const* out, uint32_t channelCount, uint32_t frames,
                            const LiveCycle& cycle) noexcept {
  inProcess_.store(true);
  if (!running_.load() || channelCount != channels_) {
    inProcess_.store(false, std::memory_order_release);
    for (uint32_t c = 0; c < channelCount; ++c)
      if (out[c] != nullptr) std::memset(out[c], 0, frames * sizeof(float));
    return;
  }
  const uint64_t start = NowNs();
  CheckClock(cycle);
  NoteLevels();
  if (tap_ != nullptr) tap_->Take(in, channels_, frames);

  auto* list = reinterpret_cast<AudioBufferList*>(outList_);
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kLiveMaxSliceFrames);
    list->mNumberBuffers = channels_;
    for (uint32_t c = 0; c < channels_; ++c) {
      sliceIn_[c] = in[c] != nullptr ? in[c] + done : nullptr;
      list->mBuffers[c] = AudioBuffer{1, static_cast<UInt32>(n * sizeof(float)), out[c] + done};
    }
    AudioTimeStamp time{};
    time.mSampleTime = sampleTime_;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    const OSStatus status = AudioUnitRender(unit_, &flags, &time, 0, n, list);
    for (uint32_t c = 0; c < channels_; ++c) {
      float* target = out[c] + done;
      if (status != noErr) {
        std::memset(target, 0, n * sizeof(float));
      } else if (list->mBuffers[c].mData != target) {
        // The unit answered with its own buffers.
        std::memcpy(target, list->mBuffers[c].mData, n * sizeof(float));
      }
    }
    if (status != noErr) renderFailures_.fetch_add(1, std::memory_order_relaxed);
    sampleTime_ += n;
    done += n;
  }
  frames_.fetch_add(frames, std::memory_order_relaxed);
  cycles_.fetch_add(1, std::memory_order_relaxed);

  const uint64_t end = NowNs();
  const uint32_t clockRate = cycle.valid && cycle.rate > 0 ? cycle.rate : static_cast<uint32_t>(sampleRate_);
  const uint64_t cycleFrames = cycle.valid && cycle.duration > 0 ? cycle.duration : frames;
  quantum_.store(static_cast<uint32_t>(cycleFrames), std::memory_order_relaxed);
  NoteTiming(end - start, clockRate > 0 ? cycleFrames * 1'000'000'000u / clockRate : 0);
  // Finished after the graph wanted the next cycle to start: this one was late.
  if (cycle.valid && cycle.deadlineNs != 0 && end > cycle.deadlineNs)
    lateCycles_.fetch_add(1, std::memory_order_relaxed);
  inProcess_.store(false, std::memory_order_release);
}

void LiveProcessor::CheckClock(const LiveCycle& cycle) noexcept {
  if (resync_.exchange(false, std::memory_order_acq_rel)) haveExpected_ = false;
  if (!cycle.valid) return;
  // The clock moved on further than one cycle: cycles went by without us.
  if (haveExpected_ && cycle.position > expectedPosition_) skippedCycles_.fetch_add(1, std::memory_order_relaxed);
  expectedPosition_ = cycle.position + cycle.duration;
  haveExpected_ = true;
}

void LiveProcessor::NoteLevels() noexcept {
  if (levelCount_ == nullptr) return;
  // Read before the unit renders: every level counted here has been handled
  // by the unit's listener already, so it acts from this slice on.
  const uint64_t count = levelCount_->load(std::memory_order_acquire);
  if (count == lastLevelCount_) return;
  const size_t written = sightingsWritten_.load(std::memory_order_relaxed);
  // Full (nobody collected for a long time): try again next cycle.
  if (written - sightingsRead_.load(std::memory_order_acquire) >= kSightings) return;
  lastLevelCount_ = count;
  // secondsBefore_ only changes while no cycle runs.
  sightings_[written % kSightings] = {count, secondsBefore_ + static_cast<double>(frames_.load(std::memory_order_relaxed)) / sampleRate_};
  sightingsWritten_.store(written + 1, std::memory_order_release);
}

void LiveProcessor::NoteTiming(uint64_t busyNs, uint64_t quantumNs) noexcept {
  busyNs_.fetch_add(busyNs, std::memory_order_relaxed);
  quantumNs_.fetch_add(quantumNs, std::memory_order_relaxed);
  RaiseToAtLeast(longestNs_, busyNs);
  if (quantumNs > 0) {
    const double share = static_cast<double>(busyNs) / static_cast<double>(quantumNs);
    RaiseToAtLeast(longestShare_, share);
    RaiseToAtLeast(recentLongestShare_, share);
  }
}

LiveCounters LiveProcessor::Counters() const {
  LiveCounters c;
  c.cycles = cycles_.load(std::memory_order_relaxed);
  c.frames = frames_.load(std::memory_order_relaxed);
  c.skippedCycles = skippedCycles_.load(std::memory_order_relaxed);
  c.lateCycles = lateCycles_.load(std::memory_order_relaxed);
  c.missingBuffers = missingBuffers_.load(std::memory_order_relaxed);
  c.xruns = c.skippedCycles + c.lateCycles + c.missingBuffers;
  c.renderFailures = renderFailures_.load(std::memory_order_relaxed);
  c.busyNs = busyNs_.load(std::memory_order_relaxed);
  c.quantumNs = quantumNs_.load(std::memory_order_relaxed);
  c.longestNs = longestNs_.load(std::memory_order_relaxed);
  c.longestShare = longestShare_.load(std::memory_order_relaxed);
  c.quantum = quantum_.load(std::memory_order_relaxed);
  return c;
}

double LiveProcessor::TakeRecentLongestShare() { return recentLongestShare_.exchange(0.0, std::memory_order_relaxed); }

double LiveProcessor::SessionSeconds() const {
  std::lock_guard<std::mutex> lock(timeMutex_);
  if (sampleRate_ <= 0) return secondsBefore_;
  return secondsBefore_ + static_cast<double>(frames_.load(std::memory_order_relaxed)) / sampleRate_;
}

void LiveProcessor::TakeLevelSightings(std::vector<LevelSighting>& into) {
  const size_t written = sightingsWritten_.load(std::memory_order_acquire);
  size_t read = sightingsRead_.load(std::memory_order_relaxed);
  for (; read != written; ++read) into.push_back(sightings_[read % kSightings]);
  sightingsRead_.store(read, std::memory_order_release);
}
