// Audio files through libsndfile: any readable file comes in as 32-bit float
// samples, one buffer per channel; outputs are written through AtomicOutput.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/qelvo/AtomicOutput.h"

struct sf_private_tag;

struct AudioFormatInfo {
  double sampleRate = 0;
  int channels = 0;
  int64_t frames = 0;
  int sfFormat = 0;  // libsndfile's major format | subtype
};

class AudioReader {
 public:
  // Throws ToolError naming the file and libsndfile's reason.
  explicit AudioReader(const std::string& path);
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;
  ~AudioReader();

  const AudioFormatInfo& Info() const { return info_; }
  // Reads up to frames frames into channels[c][0..]; answers the frames read
  // (fewer only at the end of the file).
  size_t ReadPlanar(float* const* channels, size_t frames);

 private:
  std::string path_;
  sf_private_tag* file_ = nullptr;
  AudioFormatInfo info_;
  std::vector<float> interleaved_;
};

class AudioWriter {
 public:
  // Throws ToolError when the format cannot hold this rate and channel count
  // or the file cannot be made.
  AudioWriter(const std::string& path, double sampleRate, int channels, int sfFormat);
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;
  ~AudioWriter();

  void WritePlanar(const float* const* channels, size_t frames);
  // Finishes the file and moves it into place.
  void Commit();

 private:
  AtomicOutput out_;
  sf_private_tag* file_ = nullptr;
  int channels_;
  std::vector<float> interleaved_;
};

// The libsndfile format for --format NAME; "same" (or empty) keeps the
// input's. Throws a usage error listing the names.
int OutputFormatFromName(const std::string& name, int inputFormat);
// "wav-float, wav-16, ..." for messages and help.
std::string OutputFormatNames();
// A short description of a libsndfile format, "WAV, 32-bit float".
std::string DescribeFormat(int sfFormat);

// 32-bit float WAV, the format of generated files.
int FloatWavFormat();
