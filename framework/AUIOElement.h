// An element that carries audio: the stream format of its bus and the buffer
// list its audio is rendered or pulled into. Whether it needs sample memory
// of its own is up to the input and output subclasses.
#pragma once

#include "framework/AUBuffer.h"
#include "framework/AUScopeElement.h"
#include "utility/CAStreamBasicDescription.h"

class AUIOElement : public AUElement {
 public:
  // [control] Starts as 2-channel non-interleaved float at 44100 Hz.
  explicit AUIOElement(AUBase* audioUnit);
  ~AUIOElement() override;

  // [control] Stores the whole format; no validation here (the unit judges formats).
  virtual OSStatus SetStreamFormat(const CAStreamBasicDescription& format);
  // [any]
  virtual bool NeedsBufferSpace() const = 0;
  // [control] Channel layouts are not supported by these elements.
  virtual UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outLayoutTags);
  virtual UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, Boolean& outWritable);
  virtual OSStatus SetAudioChannelLayout(const AudioChannelLayout& layout);
  virtual OSStatus RemoveAudioChannelLayout();

  // [any] Changes only on the control side of an uninitialized unit, or
  // with no render running.
  const CAStreamBasicDescription& GetStreamFormat() const { return mStreamFormat; }

  // [control] Lays out memory for framesToAllocate (0: the unit's maximum
  // slice), or only descriptor room when this element needs no memory. Does
  // nothing while the unit is uninitialized.
  void AllocateBuffer(UInt32 framesToAllocate = 0);
  void DeallocateBuffer() { mIOBuffer.Deallocate(); }

  // [render] The buffer list of this render (AUBuffer.h).
  AudioBufferList& PrepareBuffer(UInt32 nFrames) { return mIOBuffer.PrepareBuffer(mStreamFormat, nFrames); }
  // [control]
  void UseExternalBuffer(const AudioUnitExternalBuffer& buf) { mIOBuffer.UseExternalBuffer(mStreamFormat, buf); }
  // [render]
  AudioBufferList& SetBufferList(AudioBufferList& abl) { return mIOBuffer.SetBufferList(abl); }
  void InvalidateBufferList() { mIOBuffer.InvalidateBufferList(); }
  AudioBufferList& GetBufferList() const { return mIOBuffer.GetBufferList(); }
  void CopyBufferListTo(AudioBufferList& abl) const { mIOBuffer.CopyBufferListTo(abl); }
  void CopyBufferContentsTo(AudioBufferList& abl) const { mIOBuffer.CopyBufferContentsTo(abl); }

  // [any]
  const AUBufferList& GetIOBuffer() const { return mIOBuffer; }

 protected:
  // [any]
  AUBufferList& IOBuffer() { return mIOBuffer; }

 private:
  CAStreamBasicDescription mStreamFormat;
  AUBufferList mIOBuffer;
};
