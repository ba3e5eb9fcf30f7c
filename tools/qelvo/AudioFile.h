// Audio files through libsndfile: any readable file comes in as 32-bit float
// samples, one buffer per channel; outputs are written through AtomicOutput,
// or to standard output when the name is "-".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/InputFile.h"

struct sf_private_tag;

struct AudioFormatInfo {
  double sampleRate = 0;
  int channels = 0;
  int64_t frames = 0;
  int sfFormat = 0;  // libsndfile's major format | subtype
};

class AudioReader {
 public:
  // Only regular files (see InputFile.h). Throws ToolError naming the file
  // and the reason.
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
  // path "-" writes to standard output: directly when it is a file or the
  // format can be streamed, otherwise spooled through an unnamed temporary
  // file and copied out by Commit(); the same for a FIFO or device named as
  // the output. Refuses a terminal on standard output (usage error).
  // Throws ToolError when the format cannot hold this rate and channel count
  // or the file cannot be made.
  AudioWriter(const std::string& path, double sampleRate, int channels, int sfFormat);
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;
  ~AudioWriter();

  void WritePlanar(const float* const* channels, size_t frames);
  // Finishes the file and moves it into place.
  void Commit();

  // Whether the format stores integers, so samples beyond full scale clip.
  bool ClipsBeyondFullScale() const { return countClips_; }
  // Samples written so far whose magnitude was above 1.0 (or NaN), in a
  // format that clips them; 0 otherwise.
  long long ClippedSamples() const { return clipped_; }

 private:
  std::string name_;
  std::unique_ptr<AtomicOutput> out_;  // null when writing to standard output
  int stream_ = -1;                    // standard output, or a device or FIFO written in place
  FileHandle spool_;                   // set when the stream cannot take the format directly
  sf_private_tag* file_ = nullptr;
  int channels_;
  bool countClips_ = false;
  long long clipped_ = 0;
  std::vector<float> interleaved_;
};

// The libsndfile format for --format NAME; "same" (or empty) keeps the
// input's. Throws a usage error listing the names.
int OutputFormatFromName(const std::string& name, int inputFormat);
// "wav-float, wav-16, ..." for messages and help.
std::string OutputFormatNames();
// A short description of a libsndfile format, "WAV, 32-bit float".
std::string DescribeFormat(int sfFormat);

struct OutputFormatChoice {
  int sfFormat = 0;
  std::string reason;  // "--format wav-16", "the extension .flac", "the input's format"
};

// The output's format: --format NAME when given; otherwise the container
// that OUT's extension names (.wav, .flac, .aiff, .ogg, ...), keeping the
// input's sample format where that container can hold it at this rate and
// channel count, else the closest one it can; the input's format when the
// extension is unknown or absent ("-" has none).
OutputFormatChoice ChooseOutputFormat(const std::string& formatName, const std::string& outputPath, int inputFormat,
                                      double sampleRate, int channels);
// The container an extension names (major format, with a sample format for
// codecs named by extension such as .opus and .mp3); 0 when unknown.
int ContainerForPath(const std::string& path);
// True when path's extension names a known container other than sfFormat's.
bool ExtensionNamesAnotherContainer(const std::string& path, int sfFormat);

// 32-bit float WAV, the format of generated files.
int FloatWavFormat();
