#include "tools/qelvo/LiveRecorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// The writer looks at the ring this often; the render thread never wakes it
// (that would be a system call).
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);

}  // namespace

LiveInputRecorder::LiveInputRecorder(const std::string& path, double sampleRate, uint32_t channels,
                                     double ringSeconds)
    : sampleRate_(sampleRate),
      channels_(channels),
      capacity_(std::max<size_t>(static_cast<size_t>(sampleRate * ringSeconds), kLiveMaxSliceFrames)),
      ring_(channels, std::vector<float>(capacity_)),
      writer_(path, sampleRate, static_cast<int>(channels), FloatWavFormat()) {
  thread_ = std::thread(&LiveInputRecorder::WriterLoop, this);
}

LiveInputRecorder::~LiveInputRecorder() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void LiveInputRecorder::Take(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept {
  const uint64_t head = head_.load(std::memory_order_relaxed);
  const uint64_t tail = tail_.load(std::memory_order_acquire);
  if (channelCount != channels_ || capacity_ - (head - tail) < frames) {
    dropped_.fetch_add(frames, std::memory_order_relaxed);
    return;
  }
  const size_t at = static_cast<size_t>(head % capacity_);
  const size_t first = std::min<size_t>(frames, capacity_ - at);
  for (uint32_t c = 0; c < channels_; ++c) {
    float* ring = ring_[c].data();
    if (channels[c] == nullptr) {
      std::memset(ring + at, 0, first * sizeof(float));
      std::memset(ring, 0, (frames - first) * sizeof(float));
    } else {
      std::memcpy(ring + at, channels[c], first * sizeof(float));
      std::memcpy(ring, channels[c] + first, (frames - first) * sizeof(float));
    }
  }
  head_.store(head + frames, std::memory_order_release);
}

bool LiveInputRecorder::Drain() {
  const uint64_t head = head_.load(std::memory_order_acquire);
  uint64_t tail = tail_.load(std::memory_order_relaxed);
  if (head == tail) return false;
  std::vector<const float*> pointers(channels_);
  while (tail != head) {
    const size_t at = static_cast<size_t>(tail % capacity_);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(head - tail, capacity_ - at));
    for (uint32_t c = 0; c < channels_; ++c) pointers[c] = ring_[c].data() + at;
    writer_.WritePlanar(pointers.data(), n);
    tail += n;
    written_.fetch_add(n, std::memory_order_relaxed);
    tail_.store(tail, std::memory_order_release);
  }
  return true;
}

void LiveInputRecorder::WriterLoop() {
  while (!stop_.load()) {
    try {
      if (!Drain()) std::this_thread::sleep_for(kWriterPeriod);
    } catch (...) {
      // A full disk, say: stop here; Finish() tries once more and reports it.
      stop_.store(true);
    }
  }
}

void LiveInputRecorder::Finish() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  Drain();
  writer_.Commit();
}
