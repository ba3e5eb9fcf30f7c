#include "tools/qelvo/AudioFile.h"

#include <sndfile.h>

#include <cmath>

#include "tools/qelvo/ToolError.h"


namespace {

struct NamedFormat {
  const char* name;
  int format;
};

constexpr NamedFormat kFormats[] = {
    {"wav-float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},    {"wav-16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"wav-24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},      {"wav-32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
    {"aiff-float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},  {"aiff-16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"aiff-24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},    {"caf-float", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    {"flac-16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},    {"flac-24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
};

std::string FormatInfoName(int command, int format) {
  SF_FORMAT_INFO info{};
  info.format = format;
  if (sf_command(nullptr, command, &info, sizeof info) != 0 || info.name == nullptr) return "unknown";
  return info.name;
}

}  // namespace

int FloatWavFormat() { return SF_FORMAT_WAV | SF_FORMAT_FLOAT; }

std::string DescribeFormat(int sfFormat) {
  return FormatInfoName(SFC_GET_FORMAT_INFO, sfFormat & SF_FORMAT_TYPEMASK) + ", " +
         FormatInfoName(SFC_GET_FORMAT_INFO, sfFormat & SF_FORMAT_SUBMASK);
}

std::string OutputFormatNames() {
  std::string names = "same";
  for (const NamedFormat& f : kFormats) names += std::string(", ") + f.name;
  return names;
}

int OutputFormatFromName(const std::string& name, int inputFormat) {
  if (name.empty() || name == "same") return inputFormat;
  for (const NamedFormat& f : kFormats)
    if (name == f.name) return f.format;
  throw UsageError("unknown output format '" + name + "'; known formats: " + OutputFormatNames());
}

AudioReader::AudioReader(const std::string& path) : path_(path) {
  SF_INFO info{};
  file_ = sf_open(path.c_str(), SFM_READ, &info);
  if (file_ == nullptr) throw ToolError("cannot read " + path + ": " + sf_strerror(nullptr));
  if (info.channels <= 0 || info.samplerate <= 0) {
    sf_close(file_);
    file_ = nullptr;
    throw ToolError("cannot read " + path + ": no channels or no sample rate");
  }
  info_.sampleRate = info.samplerate;
  info_.channels = info.channels;
  info_.frames = info.frames;
  info_.sfFormat = info.format;
}

AudioReader::~AudioReader() {
  if (file_ != nullptr) sf_close(file_);
}

size_t AudioReader::ReadPlanar(float* const* channels, size_t frames) {
  const size_t n = static_cast<size_t>(info_.channels);
  if (interleaved_.size() < frames * n) interleaved_.resize(frames * n);
  const sf_count_t got = sf_readf_float(file_, interleaved_.data(), static_cast<sf_count_t>(frames));
  if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR))
    throw ToolError("cannot read " + path_ + ": " + sf_strerror(file_));
  const float* p = interleaved_.data();
  for (sf_count_t f = 0; f < got; ++f)
    for (size_t c = 0; c < n; ++c) channels[c][f] = *p++;
  return static_cast<size_t>(got);
}

AudioWriter::AudioWriter(const std::string& path, double sampleRate, int channels, int sfFormat)
    : out_(path), channels_(channels) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(std::lround(sampleRate));
  info.channels = channels;
  info.format = sfFormat;
  if (!sf_format_check(&info))
    throw ToolError("cannot write " + path + ": the format " + DescribeFormat(sfFormat) + " cannot hold " +
                    std::to_string(channels) + " channels at " + std::to_string(info.samplerate) +
                    " Hz; choose another with --format (" + OutputFormatNames() + ")");
  file_ = sf_open_fd(out_.Fd(), SFM_WRITE, &info, SF_FALSE);
  if (file_ == nullptr) throw ToolError("cannot write " + path + ": " + sf_strerror(nullptr));
  // Integer formats clip what the effect pushed beyond full scale instead of wrapping it.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // The peak chunk carries the time of writing; without it the same render
  // gives the same bytes.
  sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AudioWriter::~AudioWriter() {
  if (file_ != nullptr) sf_close(file_);
}

void AudioWriter::WritePlanar(const float* const* channels, size_t frames) {
  const size_t n = static_cast<size_t>(channels_);
  if (interleaved_.size() < frames * n) interleaved_.resize(frames * n);
  float* p = interleaved_.data();
  for (size_t f = 0; f < frames; ++f)
    for (size_t c = 0; c < n; ++c) *p++ = channels[c][f];
  const sf_count_t put = sf_writef_float(file_, interleaved_.data(), static_cast<sf_count_t>(frames));
  if (put != static_cast<sf_count_t>(frames))
    throw ToolError("cannot write " + out_.Target() + ": " + sf_strerror(file_));
}

void AudioWriter::Commit() {
  SNDFILE* file = file_;
  file_ = nullptr;
  if (sf_close(file) != 0) throw ToolError("cannot write " + out_.Target() + ": " + sf_strerror(nullptr));
  out_.Commit();
}
