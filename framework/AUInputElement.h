// An input bus: fed by nothing, by a connection to another unit, or by the
// host's render callback. Only a callback input needs sample memory; a
// connected source renders into its own and the pull hands its pointers on.
#pragma once

#include "framework/AUIOElement.h"

class AUInputElement : public AUIOElement {
 public:
  enum EInputType : UInt32 {
    kNoInput = 0,
    kFromConnection = 1,
    kFromCallback = 2,
  };

  explicit AUInputElement(AUBase* audioUnit);
  ~AUInputElement() override;

  // A new format gets fresh memory (or descriptor room) while the unit is initialized.
  OSStatus SetStreamFormat(const CAStreamBasicDescription& format) override;
  bool NeedsBufferSpace() const override { return IsCallback(); }

  EInputType GetInputType() const { return mInputType; }
  bool IsActive() const { return mInputType != kNoInput; }
  bool HasConnection() const { return mInputType == kFromConnection; }
  bool IsCallback() const { return mInputType == kFromCallback; }

  // Making and breaking connections, installing callbacks and pulling input
  // are added with input connections; they fill the source fields below.

 protected:
  EInputType mInputType = kNoInput;
  // Meaningful only while the input type that sets them is current.
  AURenderCallback mInputProc = nullptr;  // kFromCallback
  void* mInputProcRefCon = nullptr;
  AudioUnitConnection mConnection{};  // kFromConnection
  AudioUnitRenderProc mConnRenderProc = nullptr;  // the source's direct entry, if it gave one
  void* mConnInstanceStorage = nullptr;  // first argument of mConnRenderProc
};
