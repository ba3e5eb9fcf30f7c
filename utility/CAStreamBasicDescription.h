// Value class around the 40-byte stream format record: the queries buffer and
// render code ask, the canonical format, wildcard comparison, ordering and text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <type_traits>

#include "platform/AudioTypes.h"

// Exact comparisons on doubles; a NaN equals nothing, itself included.
inline bool fiszero(Float64 f) { return f == 0.0; }
inline bool fnonzero(Float64 f) { return !fiszero(f); }
inline bool fequal(Float64 a, Float64 b) { return a == b; }
inline bool fnotequal(Float64 a, Float64 b) { return !fequal(a, b); }

class CAStreamBasicDescription : public AudioStreamBasicDescription {
 public:
  // All 40 bytes zero: every field unspecified.
  CAStreamBasicDescription() : AudioStreamBasicDescription{} {}

  CAStreamBasicDescription(const AudioStreamBasicDescription& desc)
      : AudioStreamBasicDescription(desc) {}

  // The flags come last although they are the record's third field.
  CAStreamBasicDescription(Float64 inSampleRate, UInt32 inFormatID, UInt32 inBytesPerPacket,
                           UInt32 inFramesPerPacket, UInt32 inBytesPerFrame,
                           UInt32 inChannelsPerFrame, UInt32 inBitsPerChannel,
                           UInt32 inFormatFlags);

  CAStreamBasicDescription& operator=(const AudioStreamBasicDescription& desc) {
    static_cast<AudioStreamBasicDescription&>(*this) = desc;
    return *this;
  }

  bool IsPCM() const { return mFormatID == kAudioFormatLinearPCM; }

  // Only PCM can be split into one buffer per channel.
  bool IsInterleaved() const {
    return !IsPCM() || (mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
  }

  // Channels sharing one buffer.
  UInt32 NumberInterleavedChannels() const { return IsInterleaved() ? mChannelsPerFrame : 1; }

  // Buffers a buffer list for this format holds.
  UInt32 NumberChannelStreams() const { return IsInterleaved() ? 1 : mChannelsPerFrame; }

  UInt32 NumberChannels() const { return mChannelsPerFrame; }

  UInt32 SampleWordSize() const {
    const UInt32 channels = NumberInterleavedChannels();
    return (mBytesPerFrame > 0 && channels > 0) ? mBytesPerFrame / channels : 0;
  }

  bool PackednessIsSignificant() const { return SampleWordSize() * 8 != mBitsPerChannel; }

  bool AlignmentIsSignificant() const {
    return PackednessIsSignificant() || (mBitsPerChannel & 7) != 0;
  }

  // Linear PCM, 32-bit native float, packed, one frame per packet. Sample
  // rate and reserved word are left alone. Inline, so host code that links
  // no utility library (the real-time sanitizer's live host) can use it.
  void SetCanonical(UInt32 nChannels, bool interleaved) {
    mFormatID = kAudioFormatLinearPCM;
    mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    mBitsPerChannel = 32;
    mChannelsPerFrame = nChannels;
    mFramesPerPacket = 1;
    if (interleaved) {
      mBytesPerFrame = mBytesPerPacket = 4 * nChannels;
    } else {
      mBytesPerFrame = mBytesPerPacket = 4;
      mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    }
  }

  // The canonical format at a sample rate: what every host side here hands
  // a unit (one buffer per channel unless interleaved).
  static CAStreamBasicDescription Canonical(Float64 sampleRate, UInt32 nChannels, bool interleaved = false) {
    CAStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.SetCanonical(nChannels, interleaved);
    return format;
  }

  // With wildcards: the matching equality. Without: every byte but mReserved.
  bool IsEqual(const AudioStreamBasicDescription& other, bool interpretingWildcards) const;

  // One description line, no line end.
  void PrintFormat2(FILE* file, const char* indent, const char* name) const;

  // The description line under a fixed name, with a line end.
  void Print(FILE* file) const;

  static void NormalizeLinearPCMFormat(AudioStreamBasicDescription& ioDesc);
  static void ResetFormat(AudioStreamBasicDescription& ioDesc);
  static void FillOutFormat(AudioStreamBasicDescription& ioDesc,
                            const AudioStreamBasicDescription& fromDesc);

  // Writes at most `capacity` bytes, always terminated when capacity > 0.
  static void GetSimpleName(const AudioStreamBasicDescription& desc, char* outName,
                            size_t capacity, bool abbreviate);
};

static_assert(sizeof(CAStreamBasicDescription) == 40);
static_assert(std::is_standard_layout_v<CAStreamBasicDescription>);

// Wildcard equality: a zero field on either side matches anything.
bool operator==(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y);

// Strict ordering for sorting lists of formats; linear PCM first.
bool operator<(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y);

bool MatchFormatFlags(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y);

// False for a negative or NaN sample rate.
bool SanityCheck(const AudioStreamBasicDescription& desc);
