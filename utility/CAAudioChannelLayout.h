// Operations on the variable-length channel layout record: sizing, creation,
// channel counting, comparison and a diagnostic print.
#pragma once

#include <cstdio>

#include "platform/AudioTypes.h"

class CAAudioChannelLayout {
 public:
  CAAudioChannelLayout() = delete;

  // Bytes a record with n descriptions occupies, in 32-bit arithmetic.
  static UInt32 CalculateByteSize(UInt32 nChannels) { return 12 + 20 * nChannels; }

  // A zero-filled record with n unlabelled descriptions, or nullptr when it
  // cannot be allocated. Release with Destroy.
  static AudioChannelLayout* Create(UInt32 nChannels);
  static void Destroy(AudioChannelLayout* layout);

  // The record must have room for n descriptions.
  static void SetAllToUnknown(AudioChannelLayout& layout, UInt32 nChannels);

  static UInt32 NumberChannels(const AudioChannelLayout& layout);

  // Set bits of a word.
  static UInt32 CountOnes(UInt32 x) {
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0Fu;
    return (x * 0x01010101u) >> 24;
  }
};

// Same description count and the same bytes over the record's whole size,
// fields the tag ignores included.
bool operator==(const AudioChannelLayout& x, const AudioChannelLayout& y);

void CAShowAudioChannelLayout(FILE* file, const AudioChannelLayout* layout);
