// A file run through the distribution's LV2 file processor must come out
// sample for sample as the native unit, and `qelvo render`, render it with the
// same settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/AudioTypes.h"
#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "support/FloatWav.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kFrames = 9000;

// The samples of the file's data chunk, whatever chunks come before it.
std::vector<float> ReadFloatWav(const std::string& path, uint16_t* format) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 12; at + 8 <= file.size();) {
    uint32_t size;
    std::memcpy(&size, &file[at + 4], 4);
    if (std::memcmp(&file[at], "fmt ", 4) == 0) std::memcpy(format, &file[at + 8], 2);
    if (std::memcmp(&file[at], "data", 4) == 0 && at + 8 + size <= file.size()) {
      std::vector<float> samples(size / sizeof(float));
      std::memcpy(samples.data(), &file[at + 8], samples.size() * sizeof(float));
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

struct Feed {
  const std::vector<float>* interleaved;
  uint32_t at = 0;
};

OSStatus FeedPlanar(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                    AudioBufferList* ioData) {
  auto* feed = static_cast<Feed*>(refCon);
  for (UInt32 c = 0; c < ioData->mNumberBuffers; ++c) {
    auto* out = static_cast<float*>(ioData->mBuffers[c].mData);
    for (UInt32 i = 0; i < frames; ++i) out[i] = (*feed->interleaved)[(feed->at + i) * kChannels + c];
  }
  feed->at += frames;
  return noErr;
}

// The same settings straight through the native unit.
std::vector<float> RenderNative(const char* name, const std::vector<float>& interleaved, int32_t preset,
                                float cutoff) {
  AudioUnit unit = nullptr;
  EXPECT_EQ(QelvoOpenComponent(name, &unit), noErr) << QelvoComponentLoaderLastError();
  if (unit == nullptr) return {};
  AudioStreamBasicDescription format{kRate, kAudioFormatLinearPCM,
                                     kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                                         kAudioFormatFlagIsNonInterleaved,
                                     4, 1, 4, kChannels, 32, 0};
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                                 sizeof format), noErr);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format,
                                 sizeof format), noErr);
  Feed feed{&interleaved};
  AURenderCallbackStruct callback{FeedPlanar, &feed};
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                 &callback, sizeof callback), noErr);
  EXPECT_EQ(AudioUnitInitialize(unit), noErr);
  AUPreset chosen{preset, nullptr};
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &chosen,
                                 sizeof chosen), noErr);
  EXPECT_EQ(AudioUnitSetParameter(unit, 0, kAudioUnitScope_Global, 0, cutoff, 0), noErr);

  std::vector<float> out(interleaved.size());
  std::vector<float> planar[kChannels] = {std::vector<float>(512), std::vector<float>(512)};
  AudioTimeStamp stamp{};
  stamp.mFlags = kAudioTimeStampSampleTimeValid;
  alignas(AudioBufferList) unsigned char listBytes[AudioBufferListSize(kChannels)];
  auto* list = reinterpret_cast<AudioBufferList*>(listBytes);
  for (uint32_t done = 0; done < kFrames;) {
    const uint32_t slice = std::min<uint32_t>(512, kFrames - done);
    list->mNumberBuffers = kChannels;
    for (uint32_t c = 0; c < kChannels; ++c) list->mBuffers[c] = {1, slice * 4, planar[c].data()};
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ(AudioUnitRender(unit, &flags, &stamp, 0, slice, list), noErr);
    for (uint32_t c = 0; c < kChannels; ++c) {
      const auto* rendered = static_cast<const float*>(list->mBuffers[c].mData);
      for (uint32_t i = 0; i < slice; ++i) out[(done + i) * kChannels + c] = rendered[i];
    }
    stamp.mSampleTime += slice;
    done += slice;
  }
  AudioUnitUninitialize(unit);
  CloseComponent(unit);
  return out;
}

struct Case {
  const char* name;
  int32_t preset;
  float cutoff;
};

TEST(Lv2Apply, OutputEqualsTheNativeUnitSampleForSample) {
  if (std::string(QELVO_LV2APPLY).empty()) GTEST_SKIP() << "lv2apply not installed";
  if (QELVO_INSTRUMENTED) GTEST_SKIP() << "an uninstrumented host cannot load a sanitizer build of the plug-in";
  std::vector<float> input(kFrames * kChannels);
  uint32_t seed = 12345;
  for (size_t i = 0; i < input.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    input[i] = 0.6f * std::sin(0.01f * static_cast<float>(i)) + (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.4f;
  }
  char dir[] = "/tmp/qelvo-lv2apply-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string in = std::string(dir) + "/in.wav";
  WriteFloatWav(in, input, kChannels, kRate);

  // Filter mode at 800 Hz, gain mode, and a peak deliverable's filter mode.
  const Case cases[] = {{"AUQelvoBS7", 1, 800}, {"AUQelvoBS3", 0, 800}, {"AUQelvoPeakRight", 3, 2500}};
  for (const Case& c : cases) {
    const std::string out = std::string(dir) + "/" + c.name + ".wav";
    const std::string command = std::string(QELVO_LV2APPLY) + " -i " + in + " -o " + out + " -c preset " +
                                std::to_string(c.preset) + " -c cutoff " + std::to_string(c.cutoff) +
                                " https://qelvo.org/plugins/" + c.name + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    uint16_t format = 0;
    const std::vector<float> viaLv2 = ReadFloatWav(out, &format);
    EXPECT_EQ(format, 3) << "the host wrote another sample format";
    const std::vector<float> native = RenderNative(c.name, input, c.preset, c.cutoff);
    ASSERT_EQ(viaLv2.size(), native.size()) << c.name;
    size_t differing = 0;
    for (size_t i = 0; i < native.size(); ++i) differing += std::memcmp(&viaLv2[i], &native[i], 4) != 0;
    EXPECT_EQ(differing, 0u) << c.name << " preset " << c.preset;

    // The project's own host, with the same settings, writes the same samples.
    const std::string viaToolPath = std::string(dir) + "/" + c.name + "-qelvo.wav";
    const std::string render = std::string(QELVO_TOOL) + " render --plugin " + c.name + " --preset " +
                               std::to_string(c.preset) + " --param cutoff=" + std::to_string(c.cutoff) + " " + in +
                               " " + viaToolPath + " >/dev/null";
    ASSERT_EQ(std::system(render.c_str()), 0) << render;
    const std::vector<float> viaTool = ReadFloatWav(viaToolPath, &format);
    ASSERT_EQ(viaTool.size(), viaLv2.size()) << c.name;
    EXPECT_EQ(std::memcmp(viaTool.data(), viaLv2.data(), viaLv2.size() * sizeof(float)), 0) << c.name;
    std::remove(viaToolPath.c_str());
    std::remove(out.c_str());
  }
  std::remove(in.c_str());
  rmdir(dir);
}

}  // namespace
