// --record-input: the audio the unit receives, written to a 32-bit float WAV
// file whose frame 0 is the session's time 0, so the level recording and
// this file together render the session again. The render thread copies
// each cycle into a ring; a writer thread empties it into the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tools/qelvo/AudioFile.h"
#include "tools/qelvo/LiveProcessor.h"

class LiveInputRecorder : public LiveInputTap {
 public:
  // Throws ToolError when the file cannot be made. ringSeconds: how long the
  // writer may fall behind before input is dropped.
  LiveInputRecorder(const std::string& path, double sampleRate, uint32_t channels, double ringSeconds = 4.0);
  LiveInputRecorder(const LiveInputRecorder&) = delete;
  LiveInputRecorder& operator=(const LiveInputRecorder&) = delete;
  // Without Finish() the file is not kept.
  ~LiveInputRecorder() override;

  // [render] Copies the cycle into the ring, or drops it whole when the ring
  // is full. Null buffers are recorded as silence.
  void Take(const float* const* channels, uint32_t channelCount, uint32_t frames) noexcept override;

  // [control] Writes what is left and moves the file into place.
  void Finish();
  uint64_t FramesWritten() const { return written_.load(); }
  uint64_t FramesDropped() const { return dropped_.load(); }
  double SampleRate() const { return sampleRate_; }
  uint32_t Channels() const { return channels_; }

 private:
  void WriterLoop();
  // Writes whatever the ring holds; answers whether it held anything.
  bool Drain();

  double sampleRate_;
  uint32_t channels_;
  size_t capacity_;                    // frames
  std::vector<std::vector<float>> ring_;  // per channel
  std::atomic<uint64_t> head_{0};      // frames written by the render thread
  std::atomic<uint64_t> tail_{0};      // frames taken by the writer
  std::atomic<uint64_t> written_{0}, dropped_{0};
  std::atomic<bool> stop_{false};
  AudioWriter writer_;
  std::thread thread_;
};
