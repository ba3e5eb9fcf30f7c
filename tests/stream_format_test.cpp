#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "utility/CAStreamBasicDescription.h"

namespace {

constexpr UInt32 kLPCM = kAudioFormatLinearPCM;
constexpr UInt32 kFloat = kAudioFormatFlagIsFloat;
constexpr UInt32 kBig = kAudioFormatFlagIsBigEndian;
constexpr UInt32 kSigned = kAudioFormatFlagIsSignedInteger;
constexpr UInt32 kPacked = kAudioFormatFlagIsPacked;
constexpr UInt32 kHigh = kAudioFormatFlagIsAlignedHigh;
constexpr UInt32 kNonInt = kAudioFormatFlagIsNonInterleaved;
constexpr UInt32 kNonMix = kAudioFormatFlagIsNonMixable;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Argument order of the eight-value constructor, flags last.
CAStreamBasicDescription Fmt(double rate, UInt32 code, UInt32 bytesPerPacket,
                             UInt32 framesPerPacket, UInt32 bytesPerFrame, UInt32 channels,
                             UInt32 bits, UInt32 flags) {
  return CAStreamBasicDescription(rate, code, bytesPerPacket, framesPerPacket, bytesPerFrame,
                                  channels, bits, flags);
}

// Interleaved PCM with the byte counts that follow from channels and word size.
CAStreamBasicDescription Pcm(UInt32 channels, UInt32 bits, UInt32 wordBytes, UInt32 flags,
                             double rate = 44100.0) {
  return Fmt(rate, kLPCM, wordBytes * channels, 1, wordBytes * channels, channels, bits, flags);
}

CAStreamBasicDescription With(CAStreamBasicDescription f, void (*edit)(CAStreamBasicDescription&)) {
  edit(f);
  return f;
}

std::string Capture(void (*write)(FILE*, const void*), const void* arg) {
  char* data = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&data, &size);
  write(stream, arg);
  std::fclose(stream);
  std::string text(data, size);
  std::free(data);
  return text;
}

std::string Printed(const CAStreamBasicDescription& f, const char* indent = "",
                    const char* name = "fmt") {
  struct Args {
    const CAStreamBasicDescription* f;
    const char* indent;
    const char* name;
  } args{&f, indent, name};
  return Capture(
      [](FILE* s, const void* p) {
        const auto* a = static_cast<const Args*>(p);
        a->f->PrintFormat2(s, a->indent, a->name);
      },
      &args);
}

std::string SimpleName(const AudioStreamBasicDescription& f, bool abbreviate) {
  char buffer[256];
  CAStreamBasicDescription::GetSimpleName(f, buffer, sizeof buffer, abbreviate);
  return buffer;
}

TEST(StreamFormat, RecordLayoutAndConstruction) {
  const CAStreamBasicDescription zero;
  const unsigned char none[40] = {};
  EXPECT_EQ(std::memcmp(&zero, none, 40), 0);

  const auto f = Fmt(48000.0, kLPCM, 8, 1, 4, 2, 24, 0x2C);
  EXPECT_EQ(f.mSampleRate, 48000.0);
  EXPECT_EQ(f.mFormatID, kLPCM);
  EXPECT_EQ(f.mFormatFlags, 0x2Cu);
  EXPECT_EQ(f.mBytesPerPacket, 8u);
  EXPECT_EQ(f.mFramesPerPacket, 1u);
  EXPECT_EQ(f.mBytesPerFrame, 4u);
  EXPECT_EQ(f.mChannelsPerFrame, 2u);
  EXPECT_EQ(f.mBitsPerChannel, 24u);
  EXPECT_EQ(f.mReserved, 0u);
}

struct EqualityCase {
  const char* name;
  CAStreamBasicDescription a, b;
  bool wildcardEqual;
  bool exactEqual;
};

TEST(StreamFormat, EqualityWithAndWithoutWildcards) {
  const auto canon = Pcm(2, 32, 4, kFloat | kPacked);
  const EqualityCase cases[] = {
      {"identical", canon, canon, true, true},
      {"reserved ignored", canon, With(canon, [](auto& f) { f.mReserved = 7; }), true, true},
      {"rate zero is a wildcard", With(canon, [](auto& f) { f.mSampleRate = 0.0; }), canon, true,
       false},
      {"rates differ", canon, With(canon, [](auto& f) { f.mSampleRate = 48000.0; }), false, false},
      {"NaN rate matches nothing", With(canon, [](auto& f) { f.mSampleRate = kNaN; }), canon,
       false, false},
      {"NaN rates are the same bytes", With(canon, [](auto& f) { f.mSampleRate = kNaN; }),
       With(canon, [](auto& f) { f.mSampleRate = kNaN; }), false, true},
      {"code zero is a wildcard, flags too", Fmt(44100, 0, 8, 1, 8, 2, 32, 0x4), canon, true,
       false},
      {"codes differ", With(canon, [](auto& f) { f.mFormatID = kAudioFormatAC3; }), canon, false,
       false},
      {"flags zero match any", Pcm(2, 32, 4, 0), canon, true, false},
      {"mono interleave flag ignored", Pcm(1, 32, 4, kFloat | kPacked),
       Pcm(1, 32, 4, kFloat | kPacked | kNonInt), true, false},
      {"stereo interleave flag counts", Pcm(2, 32, 4, kFloat | kPacked),
       Pcm(2, 32, 4, kFloat | kPacked | kNonInt), false, false},
      {"interleave flag with a wildcard channel count", Fmt(0, kLPCM, 4, 1, 4, 0, 32, 9),
       Fmt(0, kLPCM, 4, 1, 4, 2, 32, 0x29), false, false},
      {"8-bit packed endianness ignored", Pcm(2, 8, 1, kSigned | kPacked),
       Pcm(2, 8, 1, kSigned | kPacked | kBig), true, false},
      {"16-bit endianness counts", Pcm(2, 16, 2, kSigned | kPacked),
       Pcm(2, 16, 2, kSigned | kPacked | kBig), false, false},
      {"8-bit unpacked endianness counts", Pcm(2, 8, 2, kSigned),
       Pcm(2, 8, 2, kSigned | kBig), false, false},
      {"packed alignment ignored", Pcm(2, 24, 3, kSigned | kPacked),
       Pcm(2, 24, 3, kSigned | kPacked | kHigh), true, false},
      {"unpacked alignment counts", Pcm(2, 24, 4, kSigned), Pcm(2, 24, 4, kSigned | kHigh), false,
       false},
      {"float sign ignored", Pcm(2, 32, 4, kFloat | kPacked),
       Pcm(2, 32, 4, kFloat | kPacked | kSigned), true, false},
      {"integer sign counts", Pcm(2, 16, 2, kPacked), Pcm(2, 16, 2, kPacked | kSigned), false,
       false},
      {"all-clear bit ignored for PCM", Pcm(2, 16, 2, kPacked | kAudioFormatFlagsAreAllClear),
       Pcm(2, 16, 2, kPacked), true, false},
      {"mixability counts", Pcm(2, 16, 2, kPacked), Pcm(2, 16, 2, kPacked | kNonMix), false,
       false},
      {"non-PCM flags must be identical", Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 1),
       Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 2), false, false},
      {"non-PCM zero flags match", Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 0),
       Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 2), true, false},
      {"non-PCM alignment not forgiven",
       Fmt(44100, kAudioFormatAC3, 0, 1536, 0, 2, 0, kPacked),
       Fmt(44100, kAudioFormatAC3, 0, 1536, 0, 2, 0, kPacked | kHigh), false, false},
      {"bytes per packet differ", canon, With(canon, [](auto& f) { f.mBytesPerPacket = 16; }),
       false, false},
      {"frames per packet differ", canon, With(canon, [](auto& f) { f.mFramesPerPacket = 2; }),
       false, false},
      {"bytes per frame differ", canon, With(canon, [](auto& f) { f.mBytesPerFrame = 16; }), false,
       false},
      {"channels differ", canon, With(canon, [](auto& f) { f.mChannelsPerFrame = 4; }), false,
       false},
      {"bits differ", canon, With(canon, [](auto& f) { f.mBitsPerChannel = 24; }), false, false},
      {"every zero integer field is a wildcard", Fmt(44100, kLPCM, 0, 0, 0, 0, 0, 9), canon, true,
       false},
      {"all zero matches anything", CAStreamBasicDescription(), Pcm(6, 24, 4, kSigned | kHigh),
       true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.wildcardEqual);
    EXPECT_EQ(c.b == c.a, c.wildcardEqual);
    EXPECT_EQ(c.a != c.b, !c.wildcardEqual);
    EXPECT_EQ(c.a.IsEqual(c.b, true), c.wildcardEqual);
    EXPECT_EQ(c.a.IsEqual(c.b, false), c.exactEqual);
    EXPECT_EQ(c.b.IsEqual(c.a, false), c.exactEqual);
  }
}

TEST(StreamFormat, FlagMatchingWithoutOtherFields) {
  // The flags alone, with every other field left as a wildcard.
  struct Case {
    UInt32 xFlags, yFlags, xBits, yBits, xChannels, yChannels;
    bool match;
  };
  const Case cases[] = {
      {kPacked | kBig, kPacked, 8, 8, 2, 2, true},
      {kPacked | kBig, kPacked, 16, 8, 2, 2, false},  // each side judged by its own width
      {kPacked, kPacked | kBig, 16, 8, 2, 2, true},
      {kBig, 0x80000000u, 8, 8, 2, 2, false},          // unpacked bytes keep their order
      {kPacked | kBig, kPacked, 0, 0, 2, 2, true},    // unknown width counts as narrow
      {kNonInt | kFloat, kFloat, 32, 32, 1, 0, true},
      {kNonInt | kFloat, kFloat, 32, 32, 1, 2, false},
  };
  for (const auto& c : cases) {
    CAStreamBasicDescription x, y;
    x.mFormatID = y.mFormatID = kLPCM;
    x.mFormatFlags = c.xFlags;
    y.mFormatFlags = c.yFlags;
    x.mBitsPerChannel = c.xBits;
    y.mBitsPerChannel = c.yBits;
    x.mChannelsPerFrame = c.xChannels;
    y.mChannelsPerFrame = c.yChannels;
    SCOPED_TRACE(::testing::Message() << std::hex << c.xFlags << " vs " << c.yFlags);
    EXPECT_EQ(MatchFormatFlags(x, y), c.match);
  }
}

TEST(StreamFormat, OrderingSortsPcmFirstThenByKindWidthRateChannels) {
  const std::vector<CAStreamBasicDescription> expected = {
      Pcm(2, 16, 2, kSigned | kPacked, 22050),
      Pcm(1, 16, 2, kSigned | kPacked, 44100),
      Pcm(2, 16, 2, kSigned | kPacked, 44100),
      Pcm(2, 24, 4, kSigned, 8000),
      Pcm(2, 32, 4, kFloat | kPacked, 8000),
      Pcm(1, 16, 2, kSigned | kPacked | kNonMix, 8000),
      Pcm(1, 32, 4, kFloat | kPacked | kNonMix, 8000),
      Fmt(44100, kAudioFormatAC3, 0, 1536, 0, 2, 0, 0),
      Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 1),
      Fmt(44100, kAudioFormat60958AC3, 0, 1536, 0, 2, 0, 0),
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t j = 0; j < expected.size(); ++j) {
      SCOPED_TRACE(::testing::Message() << i << " < " << j);
      EXPECT_EQ(expected[i] < expected[j], i < j);
    }
  }
  auto shuffled = expected;
  std::reverse(shuffled.begin(), shuffled.end());
  std::rotate(shuffled.begin(), shuffled.begin() + 3, shuffled.end());
  std::sort(shuffled.begin(), shuffled.end());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(shuffled[i].IsEqual(expected[i], false));
}

TEST(StreamFormat, OrderingIgnoresWildcardsAndTies) {
  struct Case {
    const char* name;
    CAStreamBasicDescription x, y;
    bool less, greater;
  };
  const auto base = Pcm(2, 16, 2, kSigned | kPacked);
  const Case cases[] = {
      {"identical", base, base, false, false},
      {"differ only in bytes per frame", base,
       With(base, [](auto& f) { f.mBytesPerFrame = 8; }), false, false},
      {"code zero gives no code order", CAStreamBasicDescription(),
       Fmt(0, kAudioFormatAC3, 0, 0, 0, 0, 0, 0), false, false},
      {"wildcard bits fall through to rate",
       With(base, [](auto& f) { f.mBitsPerChannel = 0; }),
       With(base, [](auto& f) { f.mBitsPerChannel = 24, f.mSampleRate = 96000; }), true, false},
      {"wildcard rate falls through to channels",
       With(base, [](auto& f) { f.mSampleRate = 0, f.mChannelsPerFrame = 6; }), base, false, true},
      {"NaN rate separates nothing", With(base, [](auto& f) { f.mSampleRate = kNaN; }), base,
       false, false},
      {"mixability outranks width", Pcm(2, 32, 4, kFloat | kPacked),
       Pcm(2, 8, 1, kSigned | kPacked | kNonMix), true, false},
      {"float bit only decides for PCM",
       Fmt(44100, kAudioFormatAC3, 0, 0, 0, 2, 16, kFloat),
       Fmt(44100, kAudioFormatAC3, 0, 0, 0, 2, 24, 0), true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.x < c.y, c.less);
    EXPECT_EQ(c.y < c.x, c.greater);
  }
}

TEST(StreamFormat, CanonicalForms) {
  struct Case {
    UInt32 channels;
    bool interleaved;
    UInt32 flags, bytesPerFrame, streams, channelsPerStream;
  };
  const Case cases[] = {
      {2, false, 0x29, 4, 2, 1}, {2, true, 0x9, 8, 1, 2}, {1, false, 0x29, 4, 1, 1},
      {6, true, 0x9, 24, 1, 6},  {0, false, 0x29, 4, 0, 1}, {0, true, 0x9, 0, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.channels << (c.interleaved ? " interleaved" : ""));
    CAStreamBasicDescription f(Fmt(96000, kAudioFormatAC3, 99, 99, 99, 99, 99, 0x7F));
    f.mReserved = 5;
    f.SetCanonical(c.channels, c.interleaved);
    EXPECT_EQ(f.mSampleRate, 96000.0);
    EXPECT_EQ(f.mReserved, 5u);
    EXPECT_EQ(f.mFormatID, kLPCM);
    EXPECT_EQ(f.mFormatFlags, c.flags);
    EXPECT_EQ(f.mBytesPerFrame, c.bytesPerFrame);
    EXPECT_EQ(f.mBytesPerPacket, c.bytesPerFrame);
    EXPECT_EQ(f.mFramesPerPacket, 1u);
    EXPECT_EQ(f.mBitsPerChannel, 32u);
    EXPECT_EQ(f.NumberChannels(), c.channels);
    EXPECT_EQ(f.IsInterleaved(), c.interleaved);
    EXPECT_EQ(f.NumberChannelStreams(), c.streams);
    EXPECT_EQ(f.NumberInterleavedChannels(), c.channelsPerStream);
    EXPECT_EQ(f.SampleWordSize(), c.channels == 0 && c.interleaved ? 0u : 4u);
  }
}

TEST(StreamFormat, NonPcmCountsAsInterleaved) {
  const auto ac3 = Fmt(48000, kAudioFormatAC3, 0, 1536, 0, 6, 0, kNonInt);
  EXPECT_FALSE(ac3.IsPCM());
  EXPECT_TRUE(ac3.IsInterleaved());
  EXPECT_EQ(ac3.NumberChannelStreams(), 1u);
  EXPECT_EQ(ac3.NumberInterleavedChannels(), 6u);
}

TEST(StreamFormat, WordSizePackednessAlignment) {
  struct Case {
    CAStreamBasicDescription f;
    UInt32 word;
    bool packednessSignificant, alignmentSignificant;
  };
  const Case cases[] = {
      {Pcm(2, 16, 2, kSigned | kPacked), 2, false, false},
      {Pcm(2, 24, 3, kSigned | kPacked), 3, false, false},
      {Pcm(2, 24, 4, kSigned | kHigh), 4, true, true},
      {Pcm(2, 20, 3, kSigned | kPacked), 3, true, true},
      {Pcm(1, 12, 0, kSigned), 0, true, true},  // no bytes per frame
      {Pcm(1, 0, 0, kSigned), 0, false, false},
      {Fmt(0, kLPCM, 4, 1, 4, 2, 20, kSigned | kNonInt), 4, true, true},
      {Fmt(0, kLPCM, 8, 1, 8, 0, 32, kFloat), 0, true, true},  // no channels
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].f.SampleWordSize(), cases[i].word);
    EXPECT_EQ(cases[i].f.PackednessIsSignificant(), cases[i].packednessSignificant);
    EXPECT_EQ(cases[i].f.AlignmentIsSignificant(), cases[i].alignmentSignificant);
  }
}

TEST(StreamFormat, PrintedDescriptions) {
  CAStreamBasicDescription canon;
  canon.mSampleRate = 44100.0;
  canon.SetCanonical(2, false);
  struct Case {
    CAStreamBasicDescription f;
    const char* text;
  };
  const Case cases[] = {
      {canon,
       "fmt  2 ch,  44100 Hz, 'lpcm' (0x00000029) 32-bit little-endian float, deinterleaved"},
      {Pcm(2, 16, 2, kSigned | kPacked | kBig),
       "fmt  2 ch,  44100 Hz, 'lpcm' (0x0000000E) 16-bit big-endian signed integer"},
      {Pcm(2, 24, 4, kSigned | kHigh, 96000),
       "fmt  2 ch,  96000 Hz, 'lpcm' (0x00000014) 24-bit little-endian signed integer, "
       "unpacked in 4 bytes high-aligned"},
      {Pcm(1, 20, 3, kSigned | kPacked, 8000),
       "fmt  1 ch,   8000 Hz, 'lpcm' (0x0000000C) 20-bit little-endian signed integer, "
       "packed in 3 bytes low-aligned"},
      {Pcm(10, 8, 1, kPacked, 192000),
       "fmt 10 ch, 192000 Hz, 'lpcm' (0x00000008) 8-bit unsigned integer"},
      {Fmt(0, kLPCM, 0, 0, 0, 0, 32, kFloat),
       "fmt  0 ch,      0 Hz, 'lpcm' (0x00000001) 32-bit float"},
      {Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 3),
       "fmt  2 ch,  44100 Hz, 'alac' (0x00000003) from 24-bit source, 4096 frames/packet"},
      {Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 5),
       "fmt  2 ch,  44100 Hz, 'alac' (0x00000005) from UNKNOWN source bit depth, "
       "4096 frames/packet"},
      {Fmt(48000, kAudioFormatAC3, 0, 1536, 0, 6, 0, 0),
       "fmt  6 ch,  48000 Hz, 'ac-3' (0x00000000) 0 bits/channel, 0 bytes/packet, "
       "1536 frames/packet, 0 bytes/frame"},
      {Fmt(22050.4, 0x61620000, 2, 1, 2, 1, 16, 0x80000000u),
       "fmt  1 ch,  22050 Hz, 'ab  ' (0x80000000) 16 bits/channel, 2 bytes/packet, "
       "1 frames/packet, 2 bytes/frame"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printed(c.f), c.text);

  EXPECT_EQ(Printed(canon, "\t", "Output:").substr(0, 13), "\tOutput:  2 c");
  std::string printed = Capture(
      [](FILE* s, const void* p) { static_cast<const CAStreamBasicDescription*>(p)->Print(s); },
      &canon);
  EXPECT_EQ(printed, "AudioStreamBasicDescription:  2 ch,  44100 Hz, 'lpcm' (0x00000029) "
                     "32-bit little-endian float, deinterleaved\n");
}

TEST(StreamFormat, SimpleNames) {
  struct Case {
    CAStreamBasicDescription f;
    bool abbreviate;
    const char* name;
  };
  const auto floatMono = Pcm(1, 32, 4, kFloat | kPacked);
  const auto sint24BigHigh = Pcm(2, 24, 4, kSigned | kBig | kHigh);
  const auto uint12Low = Pcm(2, 12, 2, kNonMix);
  const auto int16Big = Pcm(2, 16, 2, kSigned | kPacked | kBig);
  const Case cases[] = {
      {Fmt(48000, kAudioFormat60958AC3, 0, 1536, 0, 2, 0, 0), false, "AC-3 for SPDIF"},
      {Fmt(48000, kAudioFormat60958AC3, 0, 1536, 0, 2, 0, 0), true, "AC-3 for SPDIF"},
      {Fmt(48000, kAudioFormatAC3, 0, 1536, 0, 6, 0, 0), true, "AC-3"},
      {Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 1), false, "alac"},
      {floatMono, true, "Mixable 1 Ch Float32"},
      {floatMono, false, "Mixable 1 Channel 32 Bit Floating Point"},
      {sint24BigHigh, true, "Mixable 2 Ch Big Endian High SInt24/SInt32"},
      {sint24BigHigh, false, "Mixable 2 Channel 24 Bit Big Endian Signed Integer Aligned High in 32 Bits"},
      {int16Big, true, "Mixable 2 Ch Big Endian SInt16"},
      {int16Big, false, "Mixable 2 Channel 16 Bit Big Endian Signed Integer"},
      {uint12Low, true, "Unmixable 2 Ch Low UInt12/UInt16"},
      {uint12Low, false, "Unmixable 2 Channel 12 Bit Unsigned Integer Aligned Low in 16 Bits"},
      // One channel per buffer: the frame of a buffer is one word.
      {Fmt(44100, kLPCM, 4, 1, 4, 2, 24, kSigned | kNonInt), true, "Mixable 2 Ch Low SInt24/SInt32"},
      // No channels: no word to measure, and no division by zero.
      {Fmt(44100, kLPCM, 8, 1, 8, 0, 24, kSigned), true, "Mixable 0 Ch Low SInt24/SInt0"},
      {Fmt(44100, kLPCM, 8, 1, 8, 0, 24, kSigned | kBig), false,
       "Mixable 0 Channel 24 Bit Big Endian Signed Integer Aligned Low in 0 Bits"},
  };
  for (const auto& c : cases) EXPECT_EQ(SimpleName(c.f, c.abbreviate), c.name);
}

TEST(StreamFormat, SimpleNameNeverWritesPastCapacity) {
  const CAStreamBasicDescription formats[] = {
      Fmt(48000, kAudioFormat60958AC3, 0, 1536, 0, 2, 0, 0),
      Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 1),
      Pcm(2, 24, 4, kSigned | kBig | kHigh),
  };
  for (const auto& f : formats) {
    for (bool abbreviate : {false, true}) {
      const std::string full = SimpleName(f, abbreviate);
      for (size_t capacity : {size_t{1}, size_t{2}, size_t{4}, size_t{5}, full.size(),
                              full.size() + 1}) {
        SCOPED_TRACE(::testing::Message() << full << " in " << capacity);
        // Exactly `capacity` bytes on the heap, so an overrun is caught.
        auto buffer = std::make_unique<char[]>(capacity);
        CAStreamBasicDescription::GetSimpleName(f, buffer.get(), capacity, abbreviate);
        EXPECT_EQ(std::string(buffer.get()), full.substr(0, capacity - 1));
      }
      char untouched = 'x';
      CAStreamBasicDescription::GetSimpleName(f, &untouched, 0, abbreviate);
      EXPECT_EQ(untouched, 'x');
    }
  }
}

TEST(StreamFormat, NormalizeResetFillOut) {
  // Normalising gives the interleaved canonical form, keeping rate and channels.
  AudioStreamBasicDescription f = Pcm(3, 24, 4, kSigned | kBig | kHigh, 48000);
  f.mReserved = 9;
  CAStreamBasicDescription::NormalizeLinearPCMFormat(f);
  CAStreamBasicDescription expected;
  expected.mSampleRate = 48000;
  expected.SetCanonical(3, true);
  expected.mReserved = 9;
  EXPECT_EQ(std::memcmp(&f, &expected, sizeof f), 0);

  for (const AudioStreamBasicDescription untouched :
       {Pcm(2, 16, 2, kSigned | kPacked | kNonMix),
        Fmt(44100, kAudioFormatLossless, 0, 4096, 0, 2, 0, 1)}) {
    AudioStreamBasicDescription copy = untouched;
    CAStreamBasicDescription::NormalizeLinearPCMFormat(copy);
    EXPECT_EQ(std::memcmp(&copy, &untouched, sizeof copy), 0);
  }

  AudioStreamBasicDescription reset = Pcm(2, 16, 2, kPacked);
  reset.mReserved = 3;
  CAStreamBasicDescription::ResetFormat(reset);
  CAStreamBasicDescription zero;
  zero.mReserved = 3;
  EXPECT_EQ(std::memcmp(&reset, &zero, sizeof reset), 0);

  // Only the unspecified fields are taken from the other record.
  AudioStreamBasicDescription partial = Fmt(0, kLPCM, 0, 2, 0, 6, 0, 0);
  partial.mReserved = 1;
  AudioStreamBasicDescription from = Fmt(32000, kAudioFormatAC3, 11, 12, 13, 14, 15, 16);
  from.mReserved = 2;
  CAStreamBasicDescription::FillOutFormat(partial, from);
  AudioStreamBasicDescription filled = Fmt(32000, kLPCM, 11, 2, 13, 6, 15, 16);
  filled.mReserved = 1;
  EXPECT_EQ(std::memcmp(&partial, &filled, sizeof partial), 0);
}

TEST(StreamFormat, SanityAndDoubleComparisons) {
  struct Case {
    double rate;
    bool sane;
  };
  const Case cases[] = {{0.0, true},   {44100.0, true}, {-0.0, true},
                        {-1.0, false}, {kNaN, false},   {std::numeric_limits<double>::infinity(), true}};
  for (const auto& c : cases) {
    CAStreamBasicDescription f;
    f.mSampleRate = c.rate;
    EXPECT_EQ(SanityCheck(f), c.sane) << c.rate;
  }
  EXPECT_TRUE(fiszero(-0.0));
  EXPECT_FALSE(fiszero(kNaN));
  EXPECT_TRUE(fnonzero(kNaN));
  EXPECT_FALSE(fequal(kNaN, kNaN));
  EXPECT_TRUE(fnotequal(kNaN, kNaN));
  EXPECT_TRUE(fequal(0.0, -0.0));
}

}  // namespace
