#include "utility/CAStreamBasicDescription.h"

#include <cstring>

namespace {

// The four code bytes, most significant first, then a zero byte.
void FormatCodeText(UInt32 code, char out[5]) {
  out[0] = static_cast<char>((code >> 24) & 0xFF);
  out[1] = static_cast<char>((code >> 16) & 0xFF);
  out[2] = static_cast<char>((code >> 8) & 0xFF);
  out[3] = static_cast<char>(code & 0xFF);
  out[4] = '\0';
}

// Source bit depth an 'alac' flags word stands for, 0 when unknown.
int LosslessSourceDepth(UInt32 flags) {
  switch (flags) {
    case 1: return 16;
    case 2: return 20;
    case 3: return 24;
    case 4: return 32;
    default: return 0;
  }
}

// Both non-zero and different; a zero field is a wildcard.
bool BothSetAndDiffer(UInt32 a, UInt32 b) { return a != 0 && b != 0 && a != b; }

}  // namespace

CAStreamBasicDescription::CAStreamBasicDescription(Float64 inSampleRate, UInt32 inFormatID,
                                                   UInt32 inBytesPerPacket,
                                                   UInt32 inFramesPerPacket,
                                                   UInt32 inBytesPerFrame,
                                                   UInt32 inChannelsPerFrame,
                                                   UInt32 inBitsPerChannel, UInt32 inFormatFlags)
    : AudioStreamBasicDescription{} {
  mSampleRate = inSampleRate;
  mFormatID = inFormatID;
  mFormatFlags = inFormatFlags;
  mBytesPerPacket = inBytesPerPacket;
  mFramesPerPacket = inFramesPerPacket;
  mBytesPerFrame = inBytesPerFrame;
  mChannelsPerFrame = inChannelsPerFrame;
  mBitsPerChannel = inBitsPerChannel;
  mReserved = 0;
}

bool CAStreamBasicDescription::IsEqual(const AudioStreamBasicDescription& other,
                                       bool interpretingWildcards) const {
  if (interpretingWildcards) return *this == other;
  const AudioStreamBasicDescription& self = *this;
  return std::memcmp(&self, &other, offsetof(AudioStreamBasicDescription, mReserved)) == 0;
}

void CAStreamBasicDescription::PrintFormat2(FILE* file, const char* indent,
                                            const char* name) const {
  std::fprintf(file, "%s%s ", indent, name);
  char code[5];
  FormatCodeText(mFormatID, code);
  std::fprintf(file, "%2d ch, %6.0f Hz, '%-4.4s' (0x%08X) ", static_cast<int>(mChannelsPerFrame),
               mSampleRate, code, mFormatFlags);

  if (IsPCM()) {
    const UInt32 wordSize = SampleWordSize();
    const bool isFloat = (mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    const char* endian = "";
    if (wordSize >= 2) {
      endian = (mFormatFlags & kAudioFormatFlagIsBigEndian) ? " big-endian" : " little-endian";
    }
    const char* sign = "";
    if (!isFloat) {
      sign = (mFormatFlags & kAudioFormatFlagIsSignedInteger) ? " signed" : " unsigned";
    }
    const char* kind = isFloat ? "float" : "integer";

    char packing[32] = "";
    if (wordSize > 0 && PackednessIsSignificant()) {
      if (mFormatFlags & kAudioFormatFlagIsPacked) {
        std::snprintf(packing, sizeof packing, "packed in %d bytes", static_cast<int>(wordSize));
      } else {
        std::snprintf(packing, sizeof packing, "unpacked in %d bytes",
                      static_cast<int>(wordSize));
      }
    }
    const char* alignment = "";
    if (wordSize > 0 && AlignmentIsSignificant()) {
      alignment = (mFormatFlags & kAudioFormatFlagIsAlignedHigh) ? " high-aligned" : " low-aligned";
    }
    const char* interleave =
        (mFormatFlags & kAudioFormatFlagIsNonInterleaved) ? ", deinterleaved" : "";
    const char* separator = (packing[0] != '\0' || alignment[0] != '\0') ? ", " : "";

    std::fprintf(file, "%d-bit%s%s %s%s%s%s%s", static_cast<int>(mBitsPerChannel), endian, sign,
                 kind, separator, packing, alignment, interleave);
  } else if (mFormatID == kAudioFormatLossless) {
    const int sourceDepth = LosslessSourceDepth(mFormatFlags);
    if (sourceDepth != 0) {
      std::fprintf(file, "from %d-bit source, ", sourceDepth);
    } else {
      std::fprintf(file, "from UNKNOWN source bit depth, ");
    }
    std::fprintf(file, "%d frames/packet", static_cast<int>(mFramesPerPacket));
  } else {
    std::fprintf(file, "%d bits/channel, %d bytes/packet, %d frames/packet, %d bytes/frame",
                 static_cast<int>(mBitsPerChannel), static_cast<int>(mBytesPerPacket),
                 static_cast<int>(mFramesPerPacket), static_cast<int>(mBytesPerFrame));
  }
}

void CAStreamBasicDescription::Print(FILE* file) const {
  PrintFormat2(file, "", "AudioStreamBasicDescription:");
  std::fputc('\n', file);
}

void CAStreamBasicDescription::NormalizeLinearPCMFormat(AudioStreamBasicDescription& ioDesc) {
  if (ioDesc.mFormatID != kAudioFormatLinearPCM) return;
  if (ioDesc.mFormatFlags & kAudioFormatFlagIsNonMixable) return;
  ioDesc.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  ioDesc.mBytesPerPacket = ioDesc.mBytesPerFrame = 4 * ioDesc.mChannelsPerFrame;
  ioDesc.mFramesPerPacket = 1;
  ioDesc.mBitsPerChannel = 32;
}

void CAStreamBasicDescription::ResetFormat(AudioStreamBasicDescription& ioDesc) {
  ioDesc.mSampleRate = 0.0;
  ioDesc.mFormatID = 0;
  ioDesc.mFormatFlags = 0;
  ioDesc.mBytesPerPacket = 0;
  ioDesc.mFramesPerPacket = 0;
  ioDesc.mBytesPerFrame = 0;
  ioDesc.mChannelsPerFrame = 0;
  ioDesc.mBitsPerChannel = 0;
}

void CAStreamBasicDescription::FillOutFormat(AudioStreamBasicDescription& ioDesc,
                                             const AudioStreamBasicDescription& fromDesc) {
  if (fiszero(ioDesc.mSampleRate)) ioDesc.mSampleRate = fromDesc.mSampleRate;
  UInt32 AudioStreamBasicDescription::*const fields[] = {
      &AudioStreamBasicDescription::mFormatID,        &AudioStreamBasicDescription::mFormatFlags,
      &AudioStreamBasicDescription::mBytesPerPacket,  &AudioStreamBasicDescription::mFramesPerPacket,
      &AudioStreamBasicDescription::mBytesPerFrame,   &AudioStreamBasicDescription::mChannelsPerFrame,
      &AudioStreamBasicDescription::mBitsPerChannel,
  };
  for (auto field : fields) {
    if (ioDesc.*field == 0) ioDesc.*field = fromDesc.*field;
  }
}

void CAStreamBasicDescription::GetSimpleName(const AudioStreamBasicDescription& desc,
                                             char* outName, size_t capacity, bool abbreviate) {
  if (outName == nullptr || capacity == 0) return;

  if (desc.mFormatID == kAudioFormat60958AC3) {
    std::snprintf(outName, capacity, "%s", "AC-3 for SPDIF");
    return;
  }
  if (desc.mFormatID == kAudioFormatAC3) {
    std::snprintf(outName, capacity, "%s", "AC-3");
    return;
  }
  if (desc.mFormatID != kAudioFormatLinearPCM) {
    char code[5];
    FormatCodeText(desc.mFormatID, code);
    std::snprintf(outName, capacity, "%s", code);
    return;
  }

  const UInt32 flags = desc.mFormatFlags;
  const char* mix = (flags & kAudioFormatFlagIsNonMixable) ? "Unmixable" : "Mixable";
  const char* endian = (flags & kAudioFormatFlagIsBigEndian) ? "Big Endian" : nullptr;
  const char* kind;
  if (flags & kAudioFormatFlagIsFloat) {
    kind = abbreviate ? "Float" : "Floating Point";
  } else if (flags & kAudioFormatFlagIsSignedInteger) {
    kind = abbreviate ? "SInt" : "Signed Integer";
  } else {
    kind = abbreviate ? "UInt" : "Unsigned Integer";
  }
  const char* align = nullptr;
  if ((flags & kAudioFormatFlagIsPacked) == 0) {
    align = (flags & kAudioFormatFlagIsAlignedHigh) ? "High" : "Low";
  }
  // A record without channels has no sample word; a non-interleaved one holds
  // one channel per buffer, so its frame is one word.
  const CAStreamBasicDescription format(desc);
  const int wordBits =
      desc.mChannelsPerFrame == 0 ? 0 : static_cast<int>(format.SampleWordSize() * 8);
  const int channels = static_cast<int>(desc.mChannelsPerFrame);
  const int bits = static_cast<int>(desc.mBitsPerChannel);

  if (abbreviate) {
    if (endian && align) {
      std::snprintf(outName, capacity, "%s %d Ch %s %s %s%d/%s%d", mix, channels, endian, align,
                    kind, bits, kind, wordBits);
    } else if (endian) {
      std::snprintf(outName, capacity, "%s %d Ch %s %s%d", mix, channels, endian, kind, bits);
    } else if (align) {
      std::snprintf(outName, capacity, "%s %d Ch %s %s%d/%s%d", mix, channels, align, kind, bits,
                    kind, wordBits);
    } else {
      std::snprintf(outName, capacity, "%s %d Ch %s%d", mix, channels, kind, bits);
    }
  } else {
    if (endian && align) {
      std::snprintf(outName, capacity, "%s %d Channel %d Bit %s %s Aligned %s in %d Bits", mix,
                    channels, bits, endian, kind, align, wordBits);
    } else if (endian) {
      std::snprintf(outName, capacity, "%s %d Channel %d Bit %s %s", mix, channels, bits, endian,
                    kind);
    } else if (align) {
      std::snprintf(outName, capacity, "%s %d Channel %d Bit %s Aligned %s in %d Bits", mix,
                    channels, bits, kind, align, wordBits);
    } else {
      std::snprintf(outName, capacity, "%s %d Channel %d Bit %s", mix, channels, bits, kind);
    }
  }
}

bool MatchFormatFlags(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y) {
  if (x.mFormatID == 0 || y.mFormatID == 0 || x.mFormatFlags == 0 || y.mFormatFlags == 0) {
    return true;
  }
  if (x.mFormatID != kAudioFormatLinearPCM) return x.mFormatFlags == y.mFormatFlags;

  UInt32 xf = x.mFormatFlags & ~kAudioFormatFlagsAreAllClear;
  UInt32 yf = y.mFormatFlags & ~kAudioFormatFlagsAreAllClear;

  // Flags that make no difference to the samples once the others agree.
  if ((xf & yf & kAudioFormatFlagIsPacked) != 0) {
    xf &= ~kAudioFormatFlagIsAlignedHigh;
    yf &= ~kAudioFormatFlagIsAlignedHigh;
  }
  if ((xf & yf & kAudioFormatFlagIsFloat) != 0) {
    xf &= ~kAudioFormatFlagIsSignedInteger;
    yf &= ~kAudioFormatFlagIsSignedInteger;
  }
  if (x.mBitsPerChannel <= 8 && (xf & kAudioFormatFlagIsPacked) != 0) {
    xf &= ~kAudioFormatFlagIsBigEndian;
  }
  if (y.mBitsPerChannel <= 8 && (yf & kAudioFormatFlagIsPacked) != 0) {
    yf &= ~kAudioFormatFlagIsBigEndian;
  }
  if (x.mChannelsPerFrame <= 1 && y.mChannelsPerFrame <= 1) {
    xf &= ~kAudioFormatFlagIsNonInterleaved;
    yf &= ~kAudioFormatFlagIsNonInterleaved;
  }
  return xf == yf;
}

bool operator==(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y) {
  if (fnonzero(x.mSampleRate) && fnonzero(y.mSampleRate) &&
      fnotequal(x.mSampleRate, y.mSampleRate)) {
    return false;
  }
  if (BothSetAndDiffer(x.mFormatID, y.mFormatID)) return false;
  if (!MatchFormatFlags(x, y)) return false;
  return !BothSetAndDiffer(x.mBytesPerPacket, y.mBytesPerPacket) &&
         !BothSetAndDiffer(x.mFramesPerPacket, y.mFramesPerPacket) &&
         !BothSetAndDiffer(x.mBytesPerFrame, y.mBytesPerFrame) &&
         !BothSetAndDiffer(x.mChannelsPerFrame, y.mChannelsPerFrame) &&
         !BothSetAndDiffer(x.mBitsPerChannel, y.mBitsPerChannel);
}

bool operator<(const AudioStreamBasicDescription& x, const AudioStreamBasicDescription& y) {
  if (BothSetAndDiffer(x.mFormatID, y.mFormatID)) {
    if (x.mFormatID == kAudioFormatLinearPCM) return true;
    if (y.mFormatID == kAudioFormatLinearPCM) return false;
    return x.mFormatID < y.mFormatID;
  }
  if (x.mFormatID == kAudioFormatLinearPCM && y.mFormatID == kAudioFormatLinearPCM) {
    const bool xNonMixable = (x.mFormatFlags & kAudioFormatFlagIsNonMixable) != 0;
    const bool yNonMixable = (y.mFormatFlags & kAudioFormatFlagIsNonMixable) != 0;
    if (xNonMixable != yNonMixable) return yNonMixable;
    const bool xFloat = (x.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    const bool yFloat = (y.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    if (xFloat != yFloat) return yFloat;
  }
  if (BothSetAndDiffer(x.mBitsPerChannel, y.mBitsPerChannel)) {
    return x.mBitsPerChannel < y.mBitsPerChannel;
  }
  if (fnonzero(x.mSampleRate) && fnonzero(y.mSampleRate) &&
      fnotequal(x.mSampleRate, y.mSampleRate)) {
    return x.mSampleRate < y.mSampleRate;
  }
  if (BothSetAndDiffer(x.mChannelsPerFrame, y.mChannelsPerFrame)) {
    return x.mChannelsPerFrame < y.mChannelsPerFrame;
  }
  return false;
}

bool SanityCheck(const AudioStreamBasicDescription& desc) { return desc.mSampleRate >= 0.0; }
