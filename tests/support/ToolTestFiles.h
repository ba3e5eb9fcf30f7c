// Files for the host-program tests: a scratch directory that cleans up after
// itself, audio written and read with libsndfile, and the program's paths.
#pragma once

#include <sndfile.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef QELVO_TOOL
#error "QELVO_TOOL names the built qelvo program"
#endif

inline const std::string kQelvo = QELVO_TOOL;

// Tests that run a plug-in call this first.
#define REQUIRE_BUNDLES()                                                         \
  do {                                                                            \
    if (!QELVO_HAVE_BUNDLES) GTEST_SKIP() << "the plug-in bundles are not built"; \
  } while (false)

class ScratchDir {
 public:
  ScratchDir() {
    char dir[] = "/tmp/qelvo-tool-XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = dir;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of everything in the directory, hidden files included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::string path_;
};

// channels[c][frame]
using Planar = std::vector<std::vector<float>>;

inline void WriteAudio(const std::string& path, const Planar& channels, int rate,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = static_cast<int>(channels.size());
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
  std::vector<float> interleaved;
  for (size_t i = 0; i < channels[0].size(); ++i)
    for (const auto& c : channels) interleaved.push_back(c[i]);
  sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(channels[0].size()));
  sf_close(f);
}

struct AudioFileContents {
  int rate = 0;
  int format = 0;
  Planar channels;
};

inline AudioFileContents ReadAudio(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
  std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(f, interleaved.data(), info.frames);
  sf_close(f);
  AudioFileContents a;
  a.rate = info.samplerate;
  a.format = info.format;
  a.channels.assign(static_cast<size_t>(info.channels), std::vector<float>(static_cast<size_t>(info.frames)));
  for (sf_count_t i = 0; i < info.frames; ++i)
    for (int c = 0; c < info.channels; ++c) a.channels[c][i] = interleaved[static_cast<size_t>(i * info.channels + c)];
  return a;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Noise from a fixed seed, full of different values, well inside full scale.
inline Planar TestSignal(int channels, size_t frames, uint32_t seed = 1) {
  Planar p(static_cast<size_t>(channels), std::vector<float>(frames));
  uint32_t s = seed;
  for (auto& c : p)
    for (float& x : c) {
      s = s * 1664525u + 1013904223u;
      x = static_cast<float>(static_cast<int32_t>(s) / 2147483648.0 * 0.5);
    }
  return p;
}
