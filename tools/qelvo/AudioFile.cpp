#include "tools/qelvo/AudioFile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/qelvo/Interleave.h"
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

// Extensions whose container libsndfile's own table names differently or not
// at all; the rest come from that table.
struct NamedExtension {
  const char* extension;
  int format;  // major format, with a subtype where the extension names the codec
};
constexpr NamedExtension kExtensions[] = {
    {"wav", SF_FORMAT_WAV},   {"wave", SF_FORMAT_WAV},   {"aif", SF_FORMAT_AIFF},
    {"aiff", SF_FORMAT_AIFF}, {"aifc", SF_FORMAT_AIFF},  {"snd", SF_FORMAT_AU},
    {"ogg", SF_FORMAT_OGG},   {"oga", SF_FORMAT_OGG},    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},   {"mat", SF_FORMAT_MAT5},
};

// When the input's sample format does not fit the chosen container: the
// closest that does, lossless before lossy.
constexpr int kFallbackSubtypes[] = {SF_FORMAT_FLOAT,  SF_FORMAT_PCM_24, SF_FORMAT_PCM_16,
                                     SF_FORMAT_VORBIS, SF_FORMAT_OPUS,   SF_FORMAT_MPEG_LAYER_III};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return Lower(base.substr(dot + 1));
}

bool Fits(int format, double sampleRate, int channels) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(std::lround(sampleRate));
  info.channels = channels;
  info.format = format;
  return sf_format_check(&info) != 0;
}

// Float and lossy codecs take any value; everything else stores integers.
bool StoresIntegers(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return false;
    default:
      return true;
  }
}

// An unnamed file in $TMPDIR (or /tmp): it vanishes with the program however
// the program ends.
FileHandle OpenSpoolFile() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string directory = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  FileHandle fd(open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.Get() >= 0) return fd;
  std::string pattern = directory + "/qelvo-spool-XXXXXX";
  fd = FileHandle(mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.Get() < 0) throw ToolError("cannot make a temporary file in " + directory + ": " + ErrnoText(errno));
  unlink(pattern.c_str());
  return fd;
}

void CopySpool(int from, int to, const std::string& name) {
  if (lseek(from, 0, SEEK_SET) != 0) throw ToolError("cannot read back the spooled audio: " + ErrnoText(errno));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw ToolError("cannot read back the spooled audio: " + ErrnoText(errno));
    if (n == 0) return;
    for (ssize_t done = 0; done < n;) {
      const ssize_t put = write(to, buffer + done, static_cast<size_t>(n - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw ToolError("cannot write " + name + ": " + std::strerror(put < 0 ? errno : EIO));
      done += put;
    }
  }
}

// libsndfile may close the descriptor when it fails to open, whatever it was
// told, so it is always given one of its own to close.
SNDFILE* OpenSoundFile(int fd, int mode, SF_INFO* info) {
  if (fd < 0) return nullptr;
  return sf_open_fd(fd, mode, info, SF_TRUE);
}

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

int ContainerForPath(const std::string& path) {
  const std::string extension = ExtensionOf(path);
  if (extension.empty()) return 0;
  for (const NamedExtension& e : kExtensions)
    if (extension == e.extension) return e.format;
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension != nullptr &&
        extension == Lower(info.extension))
      return info.format;
  }
  return 0;
}

bool ExtensionNamesAnotherContainer(const std::string& path, int sfFormat) {
  const int container = ContainerForPath(path);
  return container != 0 && (container & SF_FORMAT_TYPEMASK) != (sfFormat & SF_FORMAT_TYPEMASK);
}

OutputFormatChoice ChooseOutputFormat(const std::string& formatName, const std::string& outputPath, int inputFormat,
                                      double sampleRate, int channels) {
  if (!formatName.empty()) {
    const int format = OutputFormatFromName(formatName, inputFormat);
    return {format, formatName == "same" ? "--format same, the input's format" : "--format " + formatName};
  }
  const int container = ContainerForPath(outputPath);
  if (container == 0) return {inputFormat, "the input's format"};
  const std::string reason = "the extension ." + ExtensionOf(outputPath);
  if ((container & SF_FORMAT_SUBMASK) != 0) return {container, reason};
  const int major = container & SF_FORMAT_TYPEMASK;
  if ((inputFormat & SF_FORMAT_TYPEMASK) == major) return {inputFormat, reason};
  const int inputSubtype = inputFormat & SF_FORMAT_SUBMASK;
  if (Fits(major | inputSubtype, sampleRate, channels)) return {major | inputSubtype, reason};
  for (int subtype : kFallbackSubtypes)
    if (Fits(major | subtype, sampleRate, channels)) return {major | subtype, reason};
  throw ToolError("cannot write " + outputPath + ": " + FormatInfoName(SFC_GET_FORMAT_INFO, major) + " cannot hold " +
                  std::to_string(channels) + " channels at " + std::to_string(std::lround(sampleRate)) +
                  " Hz; choose another format with --format (" + OutputFormatNames() + ")");
}

AudioReader::AudioReader(const std::string& path) : path_(path) {
  if (path == "-") throw UsageError("audio cannot come from standard input; name the input file");
  SF_INFO info{};
  file_ = OpenSoundFile(OpenRegularFile(path).Release(), SFM_READ, &info);
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
  Deinterleave(interleaved_.data(), channels, n, static_cast<size_t>(got));
  return static_cast<size_t>(got);
}

AudioWriter::AudioWriter(const std::string& path, double sampleRate, int channels, int sfFormat)
    : name_(path == "-" ? "standard output" : path), channels_(channels) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(std::lround(sampleRate));
  info.channels = channels;
  info.format = sfFormat;
  if (!sf_format_check(&info))
    throw ToolError("cannot write " + name_ + ": the format " + DescribeFormat(sfFormat) + " cannot hold " +
                    std::to_string(channels) + " channels at " + std::to_string(info.samplerate) +
                    " Hz; choose another with --format (" + OutputFormatNames() + ")");
  if (path == "-") {
    if (isatty(STDOUT_FILENO) == 1)
      throw UsageError("will not write audio to a terminal; redirect standard output or name an output file");
    stream_ = STDOUT_FILENO;
  } else {
    out_ = std::make_unique<AtomicOutput>(path);
    if (out_->InPlace()) stream_ = out_->Fd();
  }
  const int fd = stream_ >= 0 ? stream_ : out_->Fd();
  file_ = OpenSoundFile(fcntl(fd, F_DUPFD_CLOEXEC, 0), SFM_WRITE, &info);
  // Most containers are finished by seeking back to their header; through a
  // pipe they are written to a hidden file first and copied at the end.
  if (file_ == nullptr && stream_ >= 0 && lseek(stream_, 0, SEEK_CUR) < 0) {
    spool_ = OpenSpoolFile();
    info.format = sfFormat;
    file_ = OpenSoundFile(fcntl(spool_.Get(), F_DUPFD_CLOEXEC, 0), SFM_WRITE, &info);
  }
  if (file_ == nullptr) throw ToolError("cannot write " + name_ + ": " + sf_strerror(nullptr));
  // Integer formats clip what the effect pushed beyond full scale instead of wrapping it.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // The peak chunk carries the time of writing; without it the same render
  // gives the same bytes.
  sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  countClips_ = StoresIntegers(sfFormat);
}

AudioWriter::~AudioWriter() {
  if (file_ != nullptr) sf_close(file_);
}

void AudioWriter::WritePlanar(const float* const* channels, size_t frames) {
  const size_t n = static_cast<size_t>(channels_);
  if (interleaved_.size() < frames * n) interleaved_.resize(frames * n);
  Interleave(channels, interleaved_.data(), n, frames);
  // Only formats that store integers clip; float outputs need no count.
  if (countClips_) clipped_ += CountBeyondFullScale(interleaved_.data(), frames * n);
  const sf_count_t put = sf_writef_float(file_, interleaved_.data(), static_cast<sf_count_t>(frames));
  if (put != static_cast<sf_count_t>(frames))
    throw ToolError("cannot write " + name_ + ": " + sf_strerror(file_));
}

void AudioWriter::Commit() {
  SNDFILE* file = file_;
  file_ = nullptr;
  if (sf_close(file) != 0) throw ToolError("cannot write " + name_ + ": " + sf_strerror(nullptr));
  if (spool_.Get() >= 0) CopySpool(spool_.Get(), stream_, name_);
  if (out_) out_->Commit();
}
