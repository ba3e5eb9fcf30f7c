#include "framework/AUBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr UInt32 kAlignment = 16;
constexpr OSStatus kGenericFailure = -1;

constexpr UInt64 RoundUp16(UInt64 bytes) { return (bytes + (kAlignment - 1)) & ~UInt64(kAlignment - 1); }
constexpr UInt32 RoundDown16(UInt32 bytes) { return bytes & ~(kAlignment - 1); }

// Bytes of the descriptor header plus n buffer records.
constexpr size_t DescriptorBytes(UInt32 n) { return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * size_t(n); }

}  // namespace

AUBufferList::~AUBufferList() {
  Deallocate();
  std::free(mPtrs);
}

void AUBufferList::Allocate(const CAStreamBasicDescription& format, UInt32 nFrames) {
  const UInt32 streams = format.NumberChannelStreams();
  // Sizes are worked out in 64 bits first: byte counts that wrap in 32 bits
  // would lay out buffers larger than the block.
  const UInt64 bytesPerStream = RoundUp16(UInt64(nFrames) * format.mBytesPerFrame);
  const UInt64 needed = UInt64(streams) * bytesPerStream;
  if (needed > UINT32_MAX) throw std::bad_alloc();

  if (streams > mAllocatedStreams) {
    // Resized in place where the heap allows; records beyond the old room start cleared.
    const UInt32 oldRoom = mPtrs ? mAllocatedStreams : 0;
    auto* grown = static_cast<AudioBufferList*>(std::realloc(mPtrs, DescriptorBytes(streams)));
    if (!grown) throw std::bad_alloc();
    if (!mPtrs) grown->mNumberBuffers = 0;
    std::memset(&grown->mBuffers[oldRoom], 0, sizeof(AudioBuffer) * (streams - oldRoom));
    mPtrs = grown;
    mAllocatedStreams = streams;
  }

  if (needed > mAllocatedBytes) {
    // needed is a multiple of 16, as aligned_alloc wants.
    auto* fresh = static_cast<Byte*>(std::aligned_alloc(kAlignment, needed));
    if (!fresh) throw std::bad_alloc();
    // A host block that is too small is forgotten, never freed.
    if (!mExternalMemory) std::free(mMemory);
    mExternalMemory = false;
    mMemory = fresh;
    mAllocatedBytes = static_cast<UInt32>(needed);
  }

  mAllocatedFrames = nFrames;
  mPtrState = kPtrsInvalid;
}

void AUBufferList::Deallocate() {
  mAllocatedStreams = 0;
  mAllocatedFrames = 0;
  mAllocatedBytes = 0;
  if (mMemory) {
    if (mExternalMemory)
      mExternalMemory = false;
    else
      std::free(mMemory);
    mMemory = nullptr;
  }
  mPtrState = kPtrsInvalid;
}

AudioBufferList& AUBufferList::PrepareBuffer(const CAStreamBasicDescription& format, UInt32 nFrames) {
  const UInt32 streams = format.NumberChannelStreams();
  if (!mPtrs || streams > mAllocatedStreams) throw OSStatus(kAudioUnitErr_FormatNotSupported);

  // The stride follows the allocated frames, not this slice, so each stream
  // starts at the same aligned offset in every render.
  const UInt64 stride = RoundUp16(UInt64(mAllocatedFrames) * format.mBytesPerFrame);
  // Checked before anything is rewritten: a slice longer than the layout, or a
  // layout larger than the block (the format gained channels or bytes since
  // the memory was laid out), would have the caller write past the block.
  if (nFrames > mAllocatedFrames || UInt64(streams) * stride > mAllocatedBytes)
    throw OSStatus(kAudioUnitErr_TooManyFramesToProcess);

  const UInt32 channelsPerBuffer = format.NumberInterleavedChannels();
  const UInt32 bytesPerBuffer = nFrames * format.mBytesPerFrame;  // fits: at most the stride
  mPtrs->mNumberBuffers = streams;
  for (UInt32 k = 0; k < streams; ++k) {
    AudioBuffer& buffer = mPtrs->mBuffers[k];
    buffer.mNumberChannels = channelsPerBuffer;
    buffer.mData = mMemory + k * stride;
    buffer.mDataByteSize = bytesPerBuffer;
  }
  mPtrState = kPtrsToMyMemory;
  return *mPtrs;
}

AudioBufferList& AUBufferList::PrepareNullBuffer(const CAStreamBasicDescription& format, UInt32 nFrames) {
  const UInt32 streams = format.NumberChannelStreams();
  if (!mPtrs || streams > mAllocatedStreams) throw OSStatus(kAudioUnitErr_FormatNotSupported);

  const UInt32 channelsPerBuffer = format.NumberInterleavedChannels();
  mPtrs->mNumberBuffers = streams;
  for (UInt32 k = 0; k < streams; ++k) {
    AudioBuffer& buffer = mPtrs->mBuffers[k];
    buffer.mNumberChannels = channelsPerBuffer;
    buffer.mData = nullptr;
    buffer.mDataByteSize = nFrames * format.mBytesPerFrame;
  }
  mPtrState = kPtrsToExternalMemory;
  return *mPtrs;
}

AudioBufferList& AUBufferList::SetBufferList(const AudioBufferList& abl) {
  if (!mPtrs || abl.mNumberBuffers > mAllocatedStreams) throw OSStatus(kGenericFailure);
  mPtrs->mNumberBuffers = abl.mNumberBuffers;
  std::memcpy(mPtrs->mBuffers, abl.mBuffers, sizeof(AudioBuffer) * abl.mNumberBuffers);
  mPtrState = kPtrsToExternalMemory;
  return *mPtrs;
}

AudioBufferList& AUBufferList::GetBufferList() const {
  if (mPtrState == kPtrsInvalid) throw OSStatus(kGenericFailure);
  return *mPtrs;
}

void AUBufferList::CopyBufferListTo(AudioBufferList& abl) const {
  if (mPtrState == kPtrsInvalid) throw OSStatus(kGenericFailure);
  // Only records both lists have: abl may have room for fewer buffers than
  // this list describes, and this list may describe fewer than abl holds.
  const UInt32 n = std::min(abl.mNumberBuffers, mPtrs->mNumberBuffers);
  abl.mNumberBuffers = n;
  std::memcpy(abl.mBuffers, mPtrs->mBuffers, sizeof(AudioBuffer) * n);
}

void AUBufferList::CopyBufferContentsTo(AudioBufferList& abl) const {
  if (mPtrState == kPtrsInvalid) throw OSStatus(kGenericFailure);
  const UInt32 sourceCount = mPtrs->mNumberBuffers;
  if (sourceCount == 0) return;  // nothing to repeat into the destination
  for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) {
    const AudioBuffer& source = mPtrs->mBuffers[std::min(i, sourceCount - 1)];
    AudioBuffer& dest = abl.mBuffers[i];
    if (dest.mData == source.mData) {
      dest.mDataByteSize = source.mDataByteSize;
      continue;
    }
    // No memory on one side (a null-prepared list, a half-filled caller
    // list): nothing can be moved.
    if (!dest.mData || !source.mData) continue;
    // Never more than the destination says it holds.
    const UInt32 bytes = std::min(source.mDataByteSize, dest.mDataByteSize);
    std::memmove(dest.mData, source.mData, bytes);
    dest.mDataByteSize = bytes;
  }
}

void AUBufferList::UseExternalBuffer(const CAStreamBasicDescription& format,
                                     const AudioUnitExternalBuffer& buf) {
  const UInt32 size = RoundDown16(buf.size);
  if (!mMemory || size < mAllocatedBytes) return;
  // A block the layout cannot use: none at all, or one off the 16-byte grid.
  if (!buf.buffer || reinterpret_cast<uintptr_t>(buf.buffer) % kAlignment != 0) return;
  const UInt32 streams = format.NumberChannelStreams();
  if (streams == 0 || format.mBytesPerFrame == 0) return;

  // Frames that fit the aligned layout PrepareBuffer will use: each stream
  // gets an equal, 16-byte-rounded share of the block.
  const UInt32 frames = RoundDown16(size / streams) / format.mBytesPerFrame;

  if (!mExternalMemory) std::free(mMemory);
  // A descriptor laid over the old block must not be handed out any more.
  if (mPtrState == kPtrsToMyMemory) mPtrState = kPtrsInvalid;
  mMemory = buf.buffer;
  mAllocatedBytes = size;
  mAllocatedFrames = frames;
  mExternalMemory = true;
}

void AUBufferList::ZeroBuffer(AudioBufferList& abl) {
  for (UInt32 i = 0; i < abl.mNumberBuffers; ++i) {
    AudioBuffer& buffer = abl.mBuffers[i];
    if (buffer.mData) std::memset(buffer.mData, 0, buffer.mDataByteSize);
  }
}
