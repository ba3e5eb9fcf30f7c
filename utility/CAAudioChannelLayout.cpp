#include "utility/CAAudioChannelLayout.h"

#include <cstdlib>
#include <cstring>

namespace {

// Record size without 32-bit wrap-around, for allocation and comparison.
size_t FullByteSize(UInt32 nChannels) {
  return offsetof(AudioChannelLayout, mChannelDescriptions) +
         sizeof(AudioChannelDescription) * static_cast<size_t>(nChannels);
}

}  // namespace

AudioChannelLayout* CAAudioChannelLayout::Create(UInt32 nChannels) {
  // A count whose size wraps in 32 bits would get a block too small for its
  // descriptions; refuse it like a failed allocation.
  const size_t size = FullByteSize(nChannels);
  if (size != CalculateByteSize(nChannels)) return nullptr;
  auto* layout = static_cast<AudioChannelLayout*>(std::calloc(1, size));
  if (layout == nullptr) return nullptr;
  SetAllToUnknown(*layout, nChannels);
  return layout;
}

void CAAudioChannelLayout::Destroy(AudioChannelLayout* layout) { std::free(layout); }

void CAAudioChannelLayout::SetAllToUnknown(AudioChannelLayout& layout, UInt32 nChannels) {
  layout.mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
  layout.mChannelBitmap = 0;
  layout.mNumberChannelDescriptions = nChannels;
  // Indexed through a pointer: the record's declared array has one entry.
  AudioChannelDescription* descriptions = layout.mChannelDescriptions;
  for (UInt32 i = 0; i < nChannels; ++i) {
    descriptions[i].mChannelLabel = kAudioChannelLabel_Unknown;
    descriptions[i].mChannelFlags = 0;
    descriptions[i].mCoordinates[0] = 0.0f;
    descriptions[i].mCoordinates[1] = 0.0f;
    descriptions[i].mCoordinates[2] = 0.0f;
  }
}

UInt32 CAAudioChannelLayout::NumberChannels(const AudioChannelLayout& layout) {
  switch (layout.mChannelLayoutTag) {
    case kAudioChannelLayoutTag_UseChannelDescriptions:
      return layout.mNumberChannelDescriptions;
    case kAudioChannelLayoutTag_UseChannelBitmap:
      return CountOnes(layout.mChannelBitmap);
    default:
      return layout.mChannelLayoutTag & 0xFFFF;
  }
}

bool operator==(const AudioChannelLayout& x, const AudioChannelLayout& y) {
  if (x.mNumberChannelDescriptions != y.mNumberChannelDescriptions) return false;
  return std::memcmp(&x, &y, FullByteSize(x.mNumberChannelDescriptions)) == 0;
}

void CAShowAudioChannelLayout(FILE* file, const AudioChannelLayout* layout) {
  if (layout == nullptr) {
    std::fprintf(file, "\tNULL layout\n");
    return;
  }
  std::fprintf(file, "\tTag=0x%X, ", layout->mChannelLayoutTag);
  if (layout->mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelBitmap) {
    std::fprintf(file, "Using Bitmap:0x%X\n", layout->mChannelBitmap);
    return;
  }
  std::fprintf(file, "Num Chan Descs=%d\n", static_cast<int>(layout->mNumberChannelDescriptions));
  const AudioChannelDescription* descriptions = layout->mChannelDescriptions;
  for (UInt32 i = 0; i < layout->mNumberChannelDescriptions; ++i) {
    const AudioChannelDescription& desc = descriptions[i];
    std::fprintf(file, "\t\tLabel=%d, Flags=0x%X, ", static_cast<int>(desc.mChannelLabel),
                 desc.mChannelFlags);
    std::fprintf(file, "[az=%f,el=%f,dist=%f]\n", static_cast<double>(desc.mCoordinates[0]),
                 static_cast<double>(desc.mCoordinates[1]),
                 static_cast<double>(desc.mCoordinates[2]));
  }
}
