// The real-time part of `qelvo live`: renders each graph cycle through an
// open unit, handing it the graph's input buffers in place and letting it
// write straight into the graph's output buffers, and keeps the counters the
// status line and the summary show. It knows nothing of the audio server, so
// tests drive it directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/AudioTypes.h"

inline constexpr uint32_t kLiveMaxChannels = 8;
// The unit's maximum frames per slice; a longer cycle is rendered in slices.
inline constexpr uint32_t kLiveMaxSliceFrames = 4096;

// What the graph's clock says about the cycle being processed.
struct LiveCycle {
  bool valid = false;
  uint64_t position = 0;    // clock position, in frames at the clock's rate
  uint64_t duration = 0;    // frames in this cycle
  uint32_t rate = 0;        // the clock's rate
  uint64_t deadlineNs = 0;  // CLOCK_MONOTONIC time of the next cycle; 0: unknown
};

// Takes the input as it arrives, on the render thread, without blocking.
class LiveInputTap {
 public:
  virtual ~LiveInputTap() = default;
  // [render]
  virtual void Take(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept = 0;
};

// A first sighting by the render thread of a level count, with the session
// time of the slice that saw it: every level counted up to then acts from
// that slice on.
struct LevelSighting {
  uint64_t count = 0;
  double seconds = 0;
};

struct LiveCounters {
  uint64_t cycles = 0;
  uint64_t frames = 0;         // since the last configuration
  uint64_t xruns = 0;          // the three below together
  uint64_t skippedCycles = 0;  // the clock moved on by more than one cycle: nobody processed one
  uint64_t lateCycles = 0;     // finished after the graph's deadline
  uint64_t missingBuffers = 0; // a cycle without its buffers
  uint64_t renderFailures = 0;
  uint64_t busyNs = 0;         // time spent in the callback, summed
  uint64_t quantumNs = 0;      // the cycles' own duration, summed
  uint64_t longestNs = 0;      // the longest callback
  double longestShare = 0;     // the largest share of its cycle a callback took
  uint32_t quantum = 0;        // frames in the last cycle
};

class LiveProcessor {
 public:
  // unit: open, not yet initialised; it stays the caller's.
  explicit LiveProcessor(AudioUnit unit);
  LiveProcessor(const LiveProcessor&) = delete;
  LiveProcessor& operator=(const LiveProcessor&) = delete;
  ~LiveProcessor();

  // [control] Sets the unit up for this rate and channel count (1 to 8) and
  // initialises it: 32-bit float, one buffer per channel, no in-place
  // processing, input through this processor. Throws ToolError naming the
  // unit's refusal. Call it paused; Resume() afterwards.
  void Configure(double sampleRate, uint32_t channels);
  bool Configured() const { return channels_ != 0; }
  double SampleRate() const { return sampleRate_; }
  uint32_t Channels() const { return channels_; }

  // [control] Stops processing and waits for a Process call in flight to
  // return. While paused, Process writes silence and counts nothing; the
  // processor starts paused.
  void Pause();
  // [control] Processing starts again (once configured).
  void Resume();
  // [control] Set or cleared only while paused.
  void SetInputTap(LiveInputTap* tap) { tap_ = tap; }
  // [control] A count of levels received, read at the start of every cycle
  // (null: none). Changes are reported through TakeLevelSightings.
  void WatchLevelCount(const std::atomic<uint64_t>* count) { levelCount_ = count; }
  // [control] The clock may jump on the next cycle (the stream was paused):
  // that jump is no skipped cycle.
  void Resync() { resync_.store(true, std::memory_order_release); }

  // [render] One cycle. in has channelCount buffers (a null one is silence),
  // out as many of at least frames samples. A channel count other than the
  // configured one (a format change in flight) gives silence.
  void Process(const float* const* in, float* const* out, uint32_t channelCount, uint32_t frames,
               const LiveCycle& cycle) noexcept;
  // [render] A cycle whose buffers could not be had: an xrun.
  void CountMissingBuffer() noexcept { missingBuffers_.fetch_add(1, std::memory_order_relaxed); }

  // [any]
  LiveCounters Counters() const;
  // [any] The longest callback since the last call, as a share of its cycle.
  double TakeRecentLongestShare();
  // [any] Seconds of audio processed, across rate changes.
  double SessionSeconds() const;
  // [control] Appends the sightings made since the last call.
  void TakeLevelSightings(std::vector<LevelSighting>& into);

 private:
  static OSStatus FeedInput(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                            UInt32 bus, UInt32 frames, AudioBufferList* data);
  void NoteTiming(uint64_t busyNs, uint64_t quantumNs) noexcept;
  void CheckClock(const LiveCycle& cycle) noexcept;
  void NoteLevels() noexcept;

  AudioUnit unit_;
  double sampleRate_ = 0;
  uint32_t channels_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> inProcess_{false};  // a Process call is past its check of running_
  LiveInputTap* tap_ = nullptr;

  // Render thread only.
  const float* sliceIn_[kLiveMaxChannels] = {};
  std::vector<float> silence_;
  alignas(AudioBufferList) unsigned char outList_[AudioBufferListSize(kLiveMaxChannels)] = {};
  double sampleTime_ = 0;
  bool haveExpected_ = false;
  uint64_t expectedPosition_ = 0;
  uint64_t lastLevelCount_ = 0;

  // Written by the render thread, read anywhere.
  std::atomic<uint64_t> cycles_{0}, frames_{0}, renderFailures_{0};
  std::atomic<uint64_t> skippedCycles_{0}, lateCycles_{0}, missingBuffers_{0};
  std::atomic<uint64_t> busyNs_{0}, quantumNs_{0}, longestNs_{0};
  std::atomic<uint32_t> quantum_{0};
  std::atomic<double> longestShare_{0}, recentLongestShare_{0};
  std::atomic<bool> resync_{false};

  // Session time: seconds before the current configuration, and its rate.
  mutable std::mutex timeMutex_;
  double secondsBefore_ = 0;

  // Level sightings, render thread to control thread.
  const std::atomic<uint64_t>* levelCount_ = nullptr;
  static constexpr size_t kSightings = 1024;
  LevelSighting sightings_[kSightings];
  std::atomic<size_t> sightingsWritten_{0}, sightingsRead_{0};
};
