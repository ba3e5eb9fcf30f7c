// An element that carries audio: the stream format of its bus and the buffer
// list its audio is rendered or pulled into. Whether it needs sample memory
// of its own is up to the input and output subclasses.
#pragma once

#include "framework/AUBuffer.h"
#include "framework/AUScopeElement.h"
#include "utility/CAStreamBasicDescription.h"

class AUIOElement : public AUElement {
 public:
  // Starts as 2-channel non-interleaved float at 44100 Hz.
  explicit AUIOElement(AUBase* audioUnit);
  ~AUIOElement() override;

  // Stores the whole format; no validation here (the unit judges formats).
  virtual OSStatus SetStreamFormat(const CAStreamBasicDescription& format);
  virtual bool NeedsBufferSpace() const = 0;
  // Channel layouts are not supported by these elements.
  virtual UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outLayoutTags);
  virtual UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable);
  virtual OSStatus SetAudioChannelLayout(const AudioChannelLayout& layout);
  virtual OSStatus RemoveAudioChannelLayout();

  const CAStreamBasicDescription& GetStreamFormat() const { return mStreamFormat; }

  // Lays out memory for framesToAllocate (0: the unit's maximum slice), or
  // only descriptor room when this element needs no memory. Does nothing
  // while the unit is uninitialized.
  void AllocateBuffer(UInt32 framesToAllocate = 0);
  void DeallocateBuffer() { mIOBuffer.Deallocate(); }

  AudioBufferList& PrepareBuffer(UInt32 nFrames) { return mIOBuffer.PrepareBuffer(mStreamFormat, nFrames); }
  void UseExternalBuffer(const AudioUnitExternalBuffer& buf) { mIOBuffer.UseExternalBuffer(mStreamFormat, buf); }
  AudioBufferList& SetBufferList(AudioBufferList& abl) { return mIOBuffer.SetBufferList(abl); }
  void InvalidateBufferList() { mIOBuffer.InvalidateBufferList(); }
  AudioBufferList& GetBufferList() const { return mIOBuffer.GetBufferList(); }
  void CopyBufferListTo(AudioBufferList& abl) const { mIOBuffer.CopyBufferListTo(abl); }
  void CopyBufferContentsTo(AudioBufferList& abl) const { mIOBuffer.CopyBufferContentsTo(abl); }

  const AUBufferList& GetIOBuffer() const { return mIOBuffer; }

 protected:
  AUBufferList& IOBuffer() { return mIOBuffer; }

 private:
  CAStreamBasicDescription mStreamFormat;
  AUBufferList mIOBuffer;
};
