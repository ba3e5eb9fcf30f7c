// An input bus: fed by nothing, by a connection to another unit, or by the
// host's render callback. Only a callback input needs sample memory; a
// connected source renders into its own and the pull hands its pointers on.
#pragma once

#include <atomic>

#include "framework/AUIOElement.h"

class AUInputElement : public AUIOElement {
 public:
  enum EInputType : UInt32 {
    kNoInput = 0,
    kFromConnection = 1,
    kFromCallback = 2,
  };

  // [control]
  explicit AUInputElement(AUBase* audioUnit);
  ~AUInputElement() override;

  // [control] A new format gets fresh memory (or descriptor room) while the
  // unit is initialized.
  OSStatus SetStreamFormat(const CAStreamBasicDescription& format) override;
  // [any]
  bool NeedsBufferSpace() const override { return IsCallback(); }
  AUInputElement* AsInputElement() final { return this; }

  // [any] The input type is read whole; the render re-reads it after a pull.
  EInputType GetInputType() const { return mInputType.load(std::memory_order_acquire); }
  bool IsActive() const { return GetInputType() != kNoInput; }
  bool HasConnection() const { return GetInputType() == kFromConnection; }
  bool IsCallback() const { return GetInputType() == kFromCallback; }

  // [control] Feeds the input from another unit's output; a null source disconnects.
  // Sizes the descriptor for the format's streams (the source brings the
  // memory) and asks the source for its direct render entry.
  void SetConnection(const AudioUnitConnection& conn);
  // The input has no source any more; its own memory is freed.
  void Disconnect();
  // Feeds the input from the host's procedure; null disconnects.
  void SetInputCallback(AURenderCallback proc, void* refCon);

  // [render; initialized] Has the source render nFrames into this input's
  // buffer list, read afterwards with GetBufferList().
  // kAudioUnitErr_NoConnection without a source, or when the input was
  // disconnected while the source ran.
  OSStatus PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& inTimeStamp,
                     AudioUnitElement inElement, UInt32 nFrames);

  // [control]
  const AudioUnitConnection& GetConnection() const { return mConnection; }
  // The source's direct render entry, or null when it offered none.
  AudioUnitRenderProc GetConnectionRenderProc() const { return mConnRenderProc; }

 protected:
  // Re-read after the source returns, possibly changed meanwhile by a
  // control thread.
  std::atomic<EInputType> mInputType{kNoInput};
  // Meaningful only while the input type that sets them is current.
  AURenderCallback mInputProc = nullptr;  // kFromCallback
  void* mInputProcRefCon = nullptr;
  AudioUnitConnection mConnection{};  // kFromConnection
  AudioUnitRenderProc mConnRenderProc = nullptr;  // the source's direct entry, if it gave one
  void* mConnInstanceStorage = nullptr;  // first argument of mConnRenderProc
};
