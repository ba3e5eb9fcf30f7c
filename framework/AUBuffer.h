// The buffer list of one bus: an AudioBufferList descriptor and the sample
// memory it is laid over, or somebody else's buffers it points at.
//
// Memory and descriptor only grow, so rendering up to the allocated frames
// never allocates. Each stream starts on a 16-byte boundary at the same
// offset in every render, for vector code. Misuse throws the bare OSStatus.
#pragma once

#include "platform/AudioTypes.h"
#include "utility/CAStreamBasicDescription.h"

class AUBufferList {
 public:
  // What the descriptor currently describes.
  enum PtrState : UInt32 {
    kPtrsInvalid = 0,           // nothing usable
    kPtrsToMyMemory = 1,        // this list's memory (own or the host's block)
    kPtrsToExternalMemory = 2,  // a caller's buffers, or null data pointers
  };

  // [control]
  AUBufferList() = default;
  ~AUBufferList();
  AUBufferList(const AUBufferList&) = delete;
  AUBufferList& operator=(const AUBufferList&) = delete;

  // [control] Room for the format's streams and nFrames per stream; never shrinks.
  // Throws std::bad_alloc when the heap or 32-bit byte counts cannot hold it.
  void Allocate(const CAStreamBasicDescription& format, UInt32 nFrames);
  // Frees own memory (a host block is only let go); keeps the descriptor.
  void Deallocate();

  // [render] Lays the descriptor over the memory, nFrames per stream. Throws
  // kAudioUnitErr_FormatNotSupported for more streams than allocated and
  // kAudioUnitErr_TooManyFramesToProcess when the memory cannot hold the slice.
  AudioBufferList& PrepareBuffer(const CAStreamBasicDescription& format, UInt32 nFrames);
  // Same shape with null data pointers, for a source that brings its own memory.
  AudioBufferList& PrepareNullBuffer(const CAStreamBasicDescription& format, UInt32 nFrames);

  // [render] Points the descriptor at the caller's buffers; throws -1 when
  // they do not fit.
  AudioBufferList& SetBufferList(const AudioBufferList& abl);
  void InvalidateBufferList() { mPtrState = kPtrsInvalid; }

  // [render] These throw -1 while the descriptor describes nothing.
  AudioBufferList& GetBufferList() const;
  // abl afterwards points at this list's buffers.
  void CopyBufferListTo(AudioBufferList& abl) const;
  // Copies samples; the last source buffer fills any extra destination buffers.
  void CopyBufferContentsTo(AudioBufferList& abl) const;

  // [control] Takes a host block that replaces the current memory and is at
  // least as large.
  void UseExternalBuffer(const CAStreamBasicDescription& format, const AudioUnitExternalBuffer& buf);

  // [any]
  static void ZeroBuffer(AudioBufferList& abl);

  // [any] Sizes change only on the control side.
  UInt32 GetAllocatedFrames() const { return mAllocatedFrames; }
  UInt32 GetAllocatedBytes() const { return mAllocatedBytes; }
  UInt32 GetAllocatedStreams() const { return mAllocatedStreams; }
  PtrState GetPtrState() const { return mPtrState; }
  bool HasExternalMemory() const { return mExternalMemory; }
  const Byte* GetMemory() const { return mMemory; }

 private:
  PtrState mPtrState = kPtrsInvalid;
  bool mExternalMemory = false;
  AudioBufferList* mPtrs = nullptr;
  Byte* mMemory = nullptr;
  UInt32 mAllocatedStreams = 0;
  UInt32 mAllocatedFrames = 0;
  UInt32 mAllocatedBytes = 0;
};
